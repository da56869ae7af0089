#include "ui/AddressForm.h"

#include <algorithm>

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "model/DeviceAddress.h"
#include "ui/Spinner.h"

namespace qb::ui {

namespace {

struct AddressFormStyle {
    CardLook look{Tint::secondary, 0.08, 0.0, 1.0, 8.0};
    QMargins padding{12, 8, 12, 8};
    int spacing = 8;
    int portWidth = 76;
    std::size_t longestHost = 253;
};
const AddressFormStyle kStyle;

// A host name or an IP literal as typed, brackets around an IPv6 literal allowed; none for what cannot be one
// (nothing, spaces, URL parts), so the button stays disabled instead of failing later.
std::optional<std::string> hostFromText(QString typed) {
    typed = typed.trimmed();
    if (typed.size() > 2 && typed.startsWith(u'[') && typed.endsWith(u']')) {
        typed = typed.mid(1, typed.size() - 2);
    }
    static const QRegularExpression unusable(QStringLiteral("[\\s/@?#\\[\\]]"));
    static const QRegularExpression ipv6(QStringLiteral("^[0-9A-Fa-f:.]+(%[\\w.-]+)?$"));
    if (typed.isEmpty() || static_cast<std::size_t>(typed.size()) > kStyle.longestHost || typed.contains(unusable)) {
        return std::nullopt;
    }
    if (typed.contains(u':') && (typed.count(u':') < 2 || !ipv6.match(typed).hasMatch())) {
        return std::nullopt;
    }
    return typed.toStdString();
}

QPushButton* button(const char* name, QWidget* parent) {
    auto* made = new QPushButton(parent);
    made->setObjectName(QString::fromLatin1(name));
    // Return is the form's to handle, so it never also presses the window's default button.
    made->setAutoDefault(false);
    return made;
}

}  // namespace

AddressForm::AddressForm(model::AppModel& model, QWidget* parent) : CardFrame(kStyle.look, parent), model_(model) {
    setObjectName(QStringLiteral("addressForm"));
    auto* layout = column(this, kStyle.spacing, kStyle.padding);
    auto* header = row(nullptr, kStyle.spacing);
    title_ = new QLabel(this);
    opener_ = symbolButton(Symbol::add, Tint::accent, TextStyle::headline, "addr.title", this);
    opener_->setObjectName(QStringLiteral("openAddress"));
    connect(opener_, &QToolButton::clicked, this, &AddressForm::open);
    header->addWidget(title_, 1);
    header->addWidget(opener_);
    layout->addLayout(header);
    layout->addWidget(makeEntry());
    layout->addWidget(makeCompare());
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("addressMessage"));
    message_->setWordWrap(true);
    layout->addWidget(message_);
    layout->addWidget(makeButtons());

    connect(&model_, &model::AppModel::changed, this, &AddressForm::followPairing);
    retranslate();
    showMessage({}, Tint::secondary);
    showStep(Step::closed);
}

QWidget* AddressForm::makeEntry() {
    entry_ = new QWidget(this);
    auto* fields = row(entry_, kStyle.spacing);
    host_ = new QLineEdit(entry_);
    host_->setObjectName(QStringLiteral("host"));
    host_->setInputMethodHints(Qt::ImhUrlCharactersOnly | Qt::ImhNoAutoUppercase);
    port_ = new QLineEdit(entry_);
    port_->setObjectName(QStringLiteral("port"));
    port_->setValidator(new QIntValidator(1, 65535, port_));
    port_->setMaxLength(5);
    port_->setInputMethodHints(Qt::ImhDigitsOnly);
    port_->setFixedWidth(kStyle.portWidth);
    fields->addWidget(host_, 1);
    fields->addWidget(port_);
    connect(host_, &QLineEdit::textChanged, this, &AddressForm::refreshConnect);
    connect(host_, &QLineEdit::editingFinished, this, &AddressForm::splitHostAndPort);
    connect(port_, &QLineEdit::textChanged, this, &AddressForm::refreshConnect);
    return entry_;
}

QWidget* AddressForm::makeCompare() {
    compare_ = new QWidget(this);
    auto* lines = column(compare_, kStyle.spacing / 2);
    keyPrefix_ = new QLabel(compare_);
    keyPrefix_->setObjectName(QStringLiteral("keyPrefix"));
    // Large and monospaced: eight characters read aloud or held beside another screen.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(textFont(TextStyle::title2).pointSizeF());
    mono.setWeight(QFont::DemiBold);
    keyPrefix_->setFont(mono);
    keyPrefix_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    compareText_ = new QLabel(compare_);
    compareText_->setObjectName(QStringLiteral("compareText"));
    compareText_->setWordWrap(true);
    styleText(*compareText_, TextStyle::caption, Tint::secondary);
    lines->addWidget(keyPrefix_);
    lines->addWidget(compareText_);
    return compare_;
}

QWidget* AddressForm::makeButtons() {
    buttons_ = new QWidget(this);
    auto* actions = row(buttons_, kStyle.spacing);
    spinner_ = new Spinner(buttons_);
    cancel_ = button("cancelAddress", buttons_);
    connect_ = button("connectAddress", buttons_);
    confirm_ = button("confirmAddress", buttons_);
    connect(cancel_, &QPushButton::clicked, this, &AddressForm::back);
    connect(connect_, &QPushButton::clicked, this, &AddressForm::check);
    connect(confirm_, &QPushButton::clicked, this, &AddressForm::confirm);
    actions->addWidget(spinner_);
    actions->addStretch(1);
    actions->addWidget(cancel_);
    actions->addWidget(connect_);
    actions->addWidget(confirm_);
    return buttons_;
}

void AddressForm::retranslate() {
    title_->setText(text("addr.title"));
    host_->setPlaceholderText(text("addr.host"));
    port_->setPlaceholderText(text("addr.port"));
    cancel_->setText(text("job.cancel"));
    connect_->setText(text("addr.connect"));
    confirm_->setText(text("addr.confirm"));
    if (checked_) {
        compareText_->setText(text("addr.compare", checked_->keyPrefix()));
    }
}

void AddressForm::open() {
    if (step_ == Step::closed) {
        showMessage({}, Tint::secondary);
        showStep(Step::entry);
        host_->setFocus();
    }
}

void AddressForm::back() {
    switch (step_) {
        case Step::closed:
            return;
        case Step::entry:
            showMessage({}, Tint::secondary);
            showStep(Step::closed);
            return;
        case Step::pairing:
            model_.cancel(std::exchange(pairingJob_, {}));
            break;
        case Step::checking:
        case Step::compare:
            break;
    }
    ++checkNumber_;
    checked_.reset();
    showMessage({}, Tint::secondary);
    showStep(Step::entry);
    host_->setFocus();
}

void AddressForm::check() {
    const auto host = typedHost();
    const auto port = typedPort();
    if (step_ != Step::entry || !host || !port) {
        return;
    }
    showMessage({}, Tint::secondary);
    showStep(Step::checking);
    const unsigned number = ++checkNumber_;
    model_.checkAddress(*host, *port, [form = QPointer<AddressForm>(this), number](const model::AddressCheck& result) {
        if (form && form->checkNumber_ == number && form->step_ == Step::checking) {
            form->checked(result);
        }
    });
}

void AddressForm::checked(const model::AddressCheck& result) {
    if (!result.ok()) {
        showMessage(QString::fromStdString(result.error.message()), Tint::red);
        showStep(Step::entry);
        host_->setFocus();
        return;
    }
    checked_ = result;
    keyPrefix_->setText(QString::fromStdString(result.keyPrefix()));
    compareText_->setText(text("addr.compare", result.keyPrefix()));
    showStep(Step::compare);
    confirm_->setFocus();
}

void AddressForm::confirm() {
    if (step_ != Step::compare || !checked_) {
        return;
    }
    pairingName_ = checked_->address.host;
    pairingKey_ = checked_->fingerprint;
    pairingJob_ = model_.pairAddress(*std::exchange(checked_, std::nullopt));
    if (pairingJob_.empty()) {
        // Already one of mine: only its address was replaced.
        showMessage(text("pair.added", pairingName_), Tint::green);
        showStep(Step::closed);
        return;
    }
    showMessage(text("pair.waiting", pairingName_), Tint::secondary);
    showStep(Step::pairing);
    followPairing();
}

void AddressForm::followPairing() {
    if (step_ != Step::pairing) {
        return;
    }
    const auto& jobs = model_.jobs();
    const auto job = std::find_if(jobs.begin(), jobs.end(), [&](const auto& each) { return each.id == pairingJob_; });
    if (job != jobs.end() && job->state.isRunning()) {
        return;
    }
    pairingJob_.clear();
    // A job that is gone already ended; whether the key is mine now tells how.
    const auto& mine = model_.myDevices();
    if (job == jobs.end() ? std::find(mine.begin(), mine.end(), pairingKey_) != mine.end() : job->state.isDone()) {
        host_->clear();
        port_->clear();
        showMessage(text("pair.added", pairingName_), Tint::green);
        showStep(Step::closed);
    } else {
        // Declined, cancelled on the other side, or the connection failed: the job's own text says which.
        showMessage(job == jobs.end() ? QString() : QString::fromStdString(job->state.message()), Tint::red);
        showStep(Step::entry);
    }
}

void AddressForm::splitHostAndPort() {
    // An address copied whole ("192.168.1.20:51234", "[fe80::1]:51234") goes into both fields.
    if (const auto address = model::parseAddressText(host_->text().trimmed().toStdString())) {
        host_->setText(QString::fromStdString(address->host));
        port_->setText(QString::number(address->port));
    }
}

void AddressForm::showStep(Step step) {
    step_ = step;
    const bool closed = step == Step::closed;
    opener_->setVisible(closed);
    setCursor(closed ? Qt::PointingHandCursor : Qt::ArrowCursor);
    styleText(*title_, TextStyle::callout, Tint::primary, closed ? QFont::Normal : QFont::DemiBold);
    entry_->setVisible(step == Step::entry || step == Step::checking);
    entry_->setEnabled(step == Step::entry);
    compare_->setVisible(step == Step::compare);
    buttons_->setVisible(!closed);
    spinner_->setVisible(step == Step::checking || step == Step::pairing);
    connect_->setVisible(step == Step::entry || step == Step::checking);
    confirm_->setVisible(step == Step::compare);
    refreshConnect();
    Q_EMIT stepShown();
}

void AddressForm::showMessage(const QString& message, Tint tint) {
    message_->setText(message);
    styleText(*message_, TextStyle::caption, tint);
    message_->setVisible(!message.isEmpty());
}

void AddressForm::refreshConnect() {
    connect_->setEnabled(step_ == Step::entry && typedHost() && typedPort());
}

std::optional<std::string> AddressForm::typedHost() const {
    return hostFromText(host_->text());
}

std::optional<std::uint16_t> AddressForm::typedPort() const {
    if (!port_->hasAcceptableInput()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port_->text().toUInt());
}

void AddressForm::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (step_ == Step::closed || !(enter || event->key() == Qt::Key_Escape)) {
        CardFrame::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        back();
    } else if (step_ == Step::entry) {
        check();
    } else if (step_ == Step::compare) {
        confirm();
    }
    event->accept();
}

void AddressForm::mouseReleaseEvent(QMouseEvent* event) {
    if (step_ == Step::closed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        open();
    }
    event->accept();
}

}  // namespace qb::ui
