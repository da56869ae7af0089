#pragma once

#include <string>

#include <QString>

#include "ui/CardFrame.h"

class QLabel;
class QProgressBar;
class QToolButton;

namespace qb::model {
class AppModel;
struct TransferJob;
}  // namespace qb::model

namespace qb::ui {

class ElidedLabel;

// The status line of a job: progress and direction while running, the outcome once finished.
QString jobStatusText(const model::TransferJob& job);

// One transfer or pairing under way or just finished; a running one can be cancelled from its row.
class JobRow : public CardFrame {
    Q_OBJECT

public:
    explicit JobRow(model::AppModel& model, QWidget* parent = nullptr);

    void setJob(const model::TransferJob& job);

private:
    model::AppModel& model_;
    std::string jobId_;
    QToolButton* cancel_ = nullptr;
    QLabel* icon_ = nullptr;
    ElidedLabel* name_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace qb::ui
