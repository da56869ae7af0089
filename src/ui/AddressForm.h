#pragma once

#include <optional>
#include <string>

#include "model/AddressCheck.h"
#include "ui/CardFrame.h"

class QKeyEvent;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QPushButton;
class QToolButton;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class Spinner;

// "Add by address…": a device that discovery cannot see is added by its host and port. The key the listener
// shows is read first and its first characters compared by the user with the other device's Settings; only
// then is it paired with that key pinned. Return runs the step's action, Escape steps back.
class AddressForm : public CardFrame {
    Q_OBJECT

public:
    enum class Step { closed, entry, checking, compare, pairing };

    AddressForm(model::AppModel& model, QWidget* parent);

    Step step() const { return step_; }
    void open();
    // Compare and checking go back to the entry, the entry closes the form.
    void back();
    // Reads the key at the address typed; only while the address is sensible.
    void check();
    // The user found the keys equal: pairs with the key read.
    void confirm();
    // Sets every text again, for a language chosen while the form is shown.
    void retranslate();

Q_SIGNALS:
    // Another step is shown; the form's height may have changed.
    void stepShown();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QWidget* makeEntry();
    QWidget* makeCompare();
    QWidget* makeButtons();
    void showStep(Step step);
    void showMessage(const QString& message, Tint tint);
    void refreshConnect();
    void splitHostAndPort();
    void checked(const model::AddressCheck& result);
    void followPairing();
    std::optional<std::string> typedHost() const;
    std::optional<std::uint16_t> typedPort() const;

    model::AppModel& model_;
    Step step_ = Step::closed;
    // Tells the running check from one the user walked away from.
    unsigned checkNumber_ = 0;
    std::optional<model::AddressCheck> checked_;
    std::string pairingJob_;
    std::string pairingName_;
    std::string pairingKey_;

    QLabel* title_ = nullptr;
    QToolButton* opener_ = nullptr;
    QWidget* entry_ = nullptr;
    QLineEdit* host_ = nullptr;
    QLineEdit* port_ = nullptr;
    QWidget* compare_ = nullptr;
    QLabel* keyPrefix_ = nullptr;
    QLabel* compareText_ = nullptr;
    QLabel* message_ = nullptr;
    QWidget* buttons_ = nullptr;
    Spinner* spinner_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* connect_ = nullptr;
    QPushButton* confirm_ = nullptr;
};

}  // namespace qb::ui
