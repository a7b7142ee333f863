// The seam in front of message boxes, questions and file dialogs, so tests can
// answer them (ScriptedDialogs) while the program shows real ones (QtDialogs).
#pragma once

#include "shell/window_port.h"

#include <QString>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

class QWidget;

namespace kestrova {

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    virtual void message_box(QWidget* parent, const QString& text) = 0;
    virtual bool ask_yes_no(QWidget* parent, const QString& text) = 0;
    virtual std::optional<QString> open_file(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual std::optional<QString> save_file(QWidget* parent, const FileDialogRequest& request) = 0;
};

/// Real, modal Qt dialogs with the title "信息：".
class QtDialogs : public UserDialogs {
public:
    void message_box(QWidget* parent, const QString& text) override;
    bool ask_yes_no(QWidget* parent, const QString& text) override;
    std::optional<QString> open_file(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> save_file(QWidget* parent, const FileDialogRequest& request) override;
};

/// Answers from queues and records what was asked (for tests).
class ScriptedDialogs : public UserDialogs {
public:
    void message_box(QWidget* parent, const QString& text) override;
    bool ask_yes_no(QWidget* parent, const QString& text) override;
    std::optional<QString> open_file(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> save_file(QWidget* parent, const FileDialogRequest& request) override;

    void queue_answer(bool yes);
    /// The next file dialog's answer; an empty path cancels it.
    void queue_file_choice(const QString& path);
    std::vector<QString> messages() const;
    std::vector<QString> questions() const;
    std::vector<FileDialogRequest> file_requests() const;

private:
    std::optional<QString> next_file_choice(const FileDialogRequest& request);

    mutable std::mutex mutex_;
    std::deque<bool> answers_;
    std::deque<QString> file_choices_;
    std::vector<QString> messages_;
    std::vector<QString> questions_;
    std::vector<FileDialogRequest> file_requests_;
};

} // namespace kestrova
