#include "ui/JobRow.h"

#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "model/TransferJob.h"
#include "ui/ElidedLabel.h"

namespace qb::ui {

namespace {

using model::TransferJob;

struct JobRowStyle {
    CardLook look{Tint::secondary, 0.08, 0.0, 1.0, 8.0};
    int padding = 8;
    int iconWidth = 24;
    int lineSpacing = 2;
    int progressHeight = 6;
    int progressSteps = 1000;
};
constexpr JobRowStyle kStyle;

Tint stateTint(const TransferJob::State& state) {
    switch (state.kind()) {
        case TransferJob::State::Kind::running:
            return Tint::accent;
        case TransferJob::State::Kind::done:
            return Tint::green;
        case TransferJob::State::Kind::failed:
            return Tint::red;
    }
    return Tint::accent;
}

bool isOutgoing(const TransferJob& job) {
    return job.direction == TransferJob::Direction::outgoing;
}

}  // namespace

QString jobStatusText(const TransferJob& job) {
    if (job.state.isFailed()) {
        return text("job.failed", job.state.message());
    }
    if (job.pair) {
        return text(job.state.isDone() ? "pair.added" : "pair.waiting", job.peer);
    }
    if (job.state.isDone()) {
        return text(isOutgoing(job) ? "job.sent" : "job.received", job.peer);
    }
    const int percent = static_cast<int>(std::floor(job.progress * 100));
    return QString::number(percent) + QStringLiteral("% · ") +
           (isOutgoing(job) ? QStringLiteral("→") : QStringLiteral("←")) + QLatin1Char(' ') +
           QString::fromStdString(job.peer);
}

JobRow::JobRow(model::AppModel& model, QWidget* parent) : CardFrame(kStyle.look, parent), model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding);
    row->setSpacing(kStyle.padding);
    icon_ = new QLabel(this);
    icon_->setFixedWidth(kStyle.iconWidth);
    icon_->setAlignment(Qt::AlignCenter);
    row->addWidget(icon_, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(kStyle.lineSpacing);
    name_ = new ElidedLabel(this);
    styleText(*name_, TextStyle::caption, Tint::primary, QFont::Medium);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, kStyle.progressSteps);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(kStyle.progressHeight);
    column->addWidget(name_);
    column->addWidget(status_);
    column->addWidget(progress_);
    row->addLayout(column, 1);

    cancel_ = symbolButton(Symbol::stop, Tint::secondary, TextStyle::body, "job.cancel", this);
    cancel_->setObjectName(QStringLiteral("cancelJob"));
    // The row may show another job by the time the click is handled: the id is read then.
    connect(cancel_, &QToolButton::clicked, this, [this] { model_.cancel(jobId_); });
    row->addWidget(cancel_, 0, Qt::AlignVCenter);
}

void JobRow::setJob(const TransferJob& job) {
    const Tint tint = stateTint(job.state);
    // The arrow carries the direction, its colour the state.
    setSymbol(*icon_, isOutgoing(job) ? Symbol::outgoing : Symbol::incoming, tint, TextStyle::title2);
    name_->setText(QString::fromStdString(job.name));
    status_->setText(jobStatusText(job));
    styleText(*status_, TextStyle::caption2, tint);
    jobId_ = job.id;
    cancel_->setVisible(job.state.isRunning());
    progress_->setVisible(job.state.isRunning());
    progress_->setValue(static_cast<int>(std::clamp(job.progress, 0.0, 1.0) * kStyle.progressSteps));
}

}  // namespace qb::ui
