#include "ui/RequestCard.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "model/Inbox.h"
#include "ui/ElidedLabel.h"

namespace qb::ui {

namespace {

struct RequestCardStyle {
    CardLook look{Tint::orange, 0.12, 0.5, 1.0, 10.0};
    int padding = 12;
    int lineSpacing = 3;
    std::size_t shortKeyLength = 8;
};
constexpr RequestCardStyle kStyle;

QLabel* addLabel(QVBoxLayout& column, QLabel* label, TextStyle style, Tint tint, QFont::Weight weight = QFont::Normal) {
    styleText(*label, style, tint, weight);
    column.addWidget(label);
    return label;
}

}  // namespace

RequestCard::RequestCard(const model::IncomingRequest& request, model::AppModel& model, QWidget* parent)
    : CardFrame(kStyle.look, parent), model_(model), requestId_(request.id) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding);
    row->setSpacing(kStyle.padding);
    const Symbol symbol = request.pair ? Symbol::pairRequest : Symbol::transferRequest;
    row->addWidget(symbolLabel(symbol, Tint::orange, TextStyle::title2, this), 0, Qt::AlignTop);
    row->addWidget(makeTexts(request), 1);
}

QWidget* RequestCard::makeTexts(const model::IncomingRequest& request) {
    auto* texts = new QWidget(this);
    auto* column = new QVBoxLayout(texts);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kStyle.lineSpacing);
    if (request.pair) {
        auto* title = addLabel(*column, new QLabel(text("pair.title", request.from), texts), TextStyle::subheadline,
                               Tint::primary, QFont::DemiBold);
        title->setWordWrap(true);
        addLabel(*column, new QLabel(text("pair.body"), texts), TextStyle::caption, Tint::secondary)->setWordWrap(true);
    } else {
        auto* title = addLabel(*column, new QLabel(text("req.title", request.from), texts), TextStyle::subheadline,
                               Tint::primary, QFont::DemiBold);
        title->setWordWrap(true);
        auto* name = new ElidedLabel(texts);
        name->setText(QString::fromStdString(request.name));
        addLabel(*column, name, TextStyle::callout, Tint::primary);
        addLabel(
            *column,
            new QLabel(text("req.summary", std::to_string(request.count), model::formatBytes(request.size)), texts),
            TextStyle::caption, Tint::secondary);
    }
    if (request.key) {
        const std::string shortKey = request.key->substr(0, kStyle.shortKeyLength);
        addLabel(*column, new QLabel(text("req.key", shortKey), texts), TextStyle::caption2, Tint::secondary);
    } else {
        addLabel(*column, new QLabel(text("req.unencrypted"), texts), TextStyle::caption2, Tint::orange)
            ->setWordWrap(true);
    }
    column->addWidget(makeButtons());
    return texts;
}

QWidget* RequestCard::makeButtons() {
    auto* buttons = new QWidget(this);
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, kStyle.lineSpacing, 0, 0);
    auto* accept = new QPushButton(text("req.accept"), buttons);
    accept->setObjectName(QStringLiteral("accept"));
    accept->setFont(textFont(TextStyle::callout));
    // The prominent answer: filled with the accent colour.
    QPalette prominent = accept->palette();
    prominent.setColor(QPalette::Button, prominent.color(QPalette::Highlight));
    prominent.setColor(QPalette::ButtonText, prominent.color(QPalette::HighlightedText));
    accept->setPalette(prominent);
    auto* decline = new QPushButton(text("req.decline"), buttons);
    decline->setObjectName(QStringLiteral("decline"));
    styleText(*decline, TextStyle::callout, Tint::red);
    row->addWidget(accept);
    row->addStretch(1);
    row->addWidget(decline);
    connect(accept, &QPushButton::clicked, this, [this] { answer(true); });
    connect(decline, &QPushButton::clicked, this, [this] { answer(false); });
    return buttons;
}

void RequestCard::answer(bool accept) {
    const auto& waiting = model_.requests();
    const auto request = std::find_if(waiting.begin(), waiting.end(),
                                      [this](const model::IncomingRequest& entry) { return entry.id == requestId_; });
    if (request != waiting.end()) {
        // A decline records nothing, so respond() only drops every card of this id and answers the sender.
        model_.respond(*request, accept, false);
    }
}

}  // namespace qb::ui
