// Answers the windows of a desktop conversion and reads its results: the
// save chooser, the questions, the options dialog for encoding again, the
// run log, the movies (through ffprobe) and an encoder program wrapped
// around the real ffmpeg.
#pragma once

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/capture_output.h"
#include "tests/ui/ui_test_support.h"
#include "video/encoder_program.h"

namespace tessaly::testing {

inline constexpr const char* kOptionsTitle = "Save a Video with another compression";

// Answers every window a conversion opens: the save chooser with
// `firstOutput`, each OK/Cancel question with the next of `answers`
// (Cancel when they run out), each options dialog with the next of
// `options` (Exit/Cancel when they run out), any other box with OK.
struct ConvertScript {
    ConvertScript(const Desktop& desktop, std::string output)
        : d(desktop), firstOutput(std::move(output)), answerer([this](QWidget* modal) { return Answer(modal); }) {}

    bool Answer(QWidget* modal) {
        for (const QPointer<QWidget>& seen : answered)
            if (seen == modal) return false;
        answered.push_back(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->windowTitle() + " | " + box->text();
            if (box->text() == kStopConversionQuestion) {  // the question before quitting
                box->button(quitWhileConverting ? QMessageBox::Yes : QMessageBox::No)->click();
                return true;
            }
            // A question before a file is replaced: the next of `replace`
            // (Yes when they run out).
            if (box->button(QMessageBox::Yes) != nullptr && box->button(QMessageBox::No) != nullptr) {
                const bool yes = nextReplace >= replace.size() || replace[nextReplace];
                ++nextReplace;
                QAbstractButton* button = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
                QTimer::singleShot(0, button, [button] { button->click(); });
                return true;
            }
            if (box->button(QMessageBox::Cancel) == nullptr) {
                box->accept();
                return true;
            }
            // The labels are emptied when the run ends.
            shownSize = d.Label(309).trimmed();
            statusText = d.Label(307);
            barWidth = d.window->PositionBarWidth();
            if (onQuestion) onQuestion(box->windowTitle());
            const bool ok = next < answers.size() && answers[next];
            ++next;
            box->button(ok ? QMessageBox::Ok : QMessageBox::Cancel)->click();
            return true;
        }
        if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            if (chooser->windowTitle() != "Save Stereo Video") return false;
            chooserFilters = chooser->nameFilters();
            if (firstOutput.empty()) {
                QTimer::singleShot(50, chooser, [chooser] { chooser->reject(); });
            } else {
                FillChooser(chooser, firstOutput);
            }
            return true;
        }
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (dialog == nullptr || dialog->windowTitle() != kOptionsTitle) return false;
        ++optionsOpened;
        QPointer<QDialog> guard(dialog);
        std::function<void(QDialog*)> step;
        if (!options.empty()) {
            step = options.front();
            options.erase(options.begin());
        }
        QTimer::singleShot(50, dialog, [guard, step] {
            if (guard.isNull()) return;
            if (step) {
                step(guard);
            } else {
                guard->findChild<QPushButton*>("id_2004")->click();
            }
        });
        return true;
    }

    const Desktop& d;
    std::string firstOutput;
    QString shownSize;  // the output size label at the last question
    QString statusText;
    int barWidth = -1;
    std::vector<bool> answers;
    bool quitWhileConverting = true;  // the answer to "Stop it and quit?"
    std::vector<bool> replace;
    size_t nextReplace = 0;
    std::vector<std::function<void(QDialog*)>> options;
    std::function<void(const QString& caption)> onQuestion;
    QStringList boxes;
    QStringList chooserFilters;
    int optionsOpened = 0;
    size_t next = 0;
    std::vector<QPointer<QWidget>> answered;
    ModalAnswerer answerer;
};

// Picks an item of a drop-down list as a user confirms it.
inline void Pick(QDialog* dialog, int id, int index) {
    auto* list = dialog->findChild<QComboBox*>(QString("id_%1").arg(id));
    ASSERT_NE(list, nullptr) << id;
    list->setCurrentIndex(index);
    emit list->activated(index);
}

inline int ProbeInt(const std::string& path, const char* entry) {
    return std::atoi(ProbeVideoEntry(path, entry).c_str());
}

inline bool HasSound(const std::string& path) {
    const std::string probe = "ffprobe -v error -select_streams a -show_entries stream=codec_type -of csv=p=0 '";
    return CaptureOutput(probe + path + "'").find("audio") != std::string::npos;
}

// Log lines starting with each of `prefixes`, in this order (others between).
inline bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& prefixes) {
    size_t at = 0;
    for (const std::string& line : lines) {
        if (at < prefixes.size() && line.rfind(prefixes[at], 0) == 0) ++at;
    }
    return at == prefixes.size();
}

inline int CountLines(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

inline std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("mono", 0) == 0 || name == "temp.wav") found.push_back(name);
    }
    return found;
}

// Writes an encoder program beside the desktop program: it runs the real
// ffmpeg, except that a call naming `pattern` (by default the encoding of
// the stills) does `action` first.
inline void InstallEncoderWrapper(const Desktop& d, const std::string& action,
                                  const std::string& pattern = "*mono%06d*") {
    const std::filesystem::path program = std::filesystem::path(d.dir) / kEncoderRelativePath;
    std::filesystem::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\ncase \"$*\" in " << pattern << ") " << action
                           << " ;; esac\nexec ffmpeg \"$@\"\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
}

}  // namespace tessaly::testing
