#include "ui/queue_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "ui/job_queue.h"

namespace tessaly {
namespace {

enum Column { kMovieColumn, kOutputColumn, kStateColumn, kProgressColumn, kColumns };

// A file by its name, its whole path in the tip.
QTableWidgetItem* FileItem(const std::string& path) {
    auto* item = new QTableWidgetItem(QString::fromStdString(std::filesystem::path(path).filename().string()));
    item->setToolTip(QString::fromStdString(path));
    return item;
}

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

QueueWindow::QueueWindow(QWidget* owner, JobQueue& queue)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      queue_(queue) {
    setObjectName("QueueWindow");
    setWindowTitle("Queue");
    setModal(false);
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    setFont(font);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName("queueTable");
    table_->setHorizontalHeaderLabels({"Movie", "Output", "State", "Progress"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(kProgressColumn, QHeaderView::Fixed);
    table_->setColumnWidth(kProgressColumn, 130);
    notes_ = new QLabel(this);
    notes_->setObjectName("queueNotes");
    notes_->setWordWrap(true);

    run_ = Button("Run queue", "runQueue", this);
    remove_ = Button("Remove", "removeJob", this);
    cancel_ = Button("Cancel", "cancelJob", this);
    auto* close = Button("Close", "closeQueue", this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {run_, remove_, cancel_}) buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addWidget(notes_);
    layout->addLayout(buttons);
    resize(760, 280);

    connect(run_, &QPushButton::clicked, this, &QueueWindow::runRequested);
    connect(remove_, &QPushButton::clicked, this, [this] {
        if (table_->currentRow() >= 0) queue_.Remove(static_cast<size_t>(table_->currentRow()));
    });
    connect(cancel_, &QPushButton::clicked, this, [this] { queue_.CancelRunning(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(table_, &QTableWidget::currentCellChanged, this, [this] { ShowButtons(); });
    connect(&queue_, &JobQueue::changed, this, &QueueWindow::ShowRows);
    connect(&queue_, &JobQueue::progressed, this, &QueueWindow::ShowProgress);
    connect(&queue_, &JobQueue::ranOut, this, &QueueWindow::ShowButtons);
    ShowRows();
}

void QueueWindow::ShowRows() {
    const std::vector<QueueEntry>& entries = queue_.Entries();
    const int current = table_->currentRow();
    table_->setRowCount(static_cast<int>(entries.size()));
    for (int row = 0; row < table_->rowCount(); ++row) {
        const MovieJob& job = entries[static_cast<size_t>(row)].job;
        table_->setItem(row, kMovieColumn, FileItem(job.movie.path));
        table_->setItem(row, kOutputColumn, FileItem(job.outputs.paths.empty() ? "" : job.outputs.paths.front()));
        if (table_->cellWidget(row, kProgressColumn) == nullptr) {
            table_->setCellWidget(row, kProgressColumn, new QProgressBar(table_));
        }
        ShowProgress(row);
    }
    if (current >= 0 && current < table_->rowCount()) table_->selectRow(current);
    QString notes;
    for (const std::string& note : queue_.Notes()) notes += (notes.isEmpty() ? "" : "\n") + QString::fromStdString(note);
    notes_->setText(notes);
    notes_->setVisible(!notes.isEmpty());
    ShowButtons();
}

void QueueWindow::ShowProgress(int row) {
    if (row < 0 || row >= table_->rowCount() || static_cast<size_t>(row) >= queue_.Entries().size()) return;
    const QueueEntry& e = queue_.Entries()[static_cast<size_t>(row)];
    auto* state = new QTableWidgetItem(QString::fromStdString(QueueStateText(e)));
    state->setToolTip(state->text());
    table_->setItem(row, kStateColumn, state);
    if (auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgressColumn))) {
        bar->setValue(e.percent);
        bar->setFormat(e.encoding ? "encoding" : "%p%");
    }
}

void QueueWindow::ShowButtons() {
    const std::vector<QueueEntry>& entries = queue_.Entries();
    const int row = table_->currentRow();
    const bool chosen = row >= 0 && static_cast<size_t>(row) < entries.size();
    remove_->setEnabled(chosen && entries[static_cast<size_t>(row)].state != QueueState::kConverting);
    cancel_->setEnabled(queue_.Running());
    run_->setEnabled(!queue_.Running());
}

}  // namespace tessaly
