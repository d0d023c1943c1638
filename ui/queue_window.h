// The "Queue" window: one row per job of the desktop's job queue (movie,
// output, state, progress), with Run queue, Remove (a job that does not
// run), Cancel (the job converting) and Close. What the stored queue could
// not read is said under the list.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace tessaly {

class JobQueue;

class QueueWindow : public QDialog {
    Q_OBJECT
public:
    QueueWindow(QWidget* owner, JobQueue& queue);

    QTableWidget* Table() const { return table_; }
    QLabel* Notes() const { return notes_; }

signals:
    // "Run queue" was pressed.
    void runRequested();

private:
    void ShowRows();
    void ShowProgress(int row);
    void ShowButtons();

    JobQueue& queue_;
    QTableWidget* table_;
    QLabel* notes_;
    QPushButton* run_;
    QPushButton* remove_;
    QPushButton* cancel_;
};

}  // namespace tessaly
