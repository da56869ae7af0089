#pragma once

#include <string>

#include "ui/CardFrame.h"

namespace qb::model {
class AppModel;
struct IncomingRequest;
}  // namespace qb::model

namespace qb::ui {

// One transfer or pairing request waiting for the user: who asks, what, whether the connection is
// encrypted, and the two answers.
class RequestCard : public CardFrame {
    Q_OBJECT

public:
    RequestCard(const model::IncomingRequest& request, model::AppModel& model, QWidget* parent = nullptr);

    const std::string& requestId() const { return requestId_; }

private:
    QWidget* makeTexts(const model::IncomingRequest& request);
    QWidget* makeButtons();
    // Answers the request if it is still waiting; a request answered elsewhere is left alone.
    void answer(bool accept);

    model::AppModel& model_;
    std::string requestId_;
};

}  // namespace qb::ui
