#pragma once

#include <QString>

#include "ui/CardFrame.h"

class QLabel;
class QProgressBar;

namespace qb::model {
struct TransferJob;
}

namespace qb::ui {

class ElidedLabel;

// The status line of a job: progress and direction while running, the outcome once finished.
QString jobStatusText(const model::TransferJob& job);

// One transfer or pairing under way or just finished.
class JobRow : public CardFrame {
    Q_OBJECT

public:
    explicit JobRow(QWidget* parent = nullptr);

    void setJob(const model::TransferJob& job);

private:
    QLabel* icon_ = nullptr;
    ElidedLabel* name_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace qb::ui
