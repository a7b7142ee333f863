#include "shell/user_dialogs.h"

#include "shell/qt_text.h"

#include <QFileDialog>
#include <QMessageBox>

namespace kestrova {

namespace {
QString dialog_title() {
    return qs("信息：");
}

QString filter_text(const FileDialogRequest& request) {
    return to_qstring(request.filter_description) + QStringLiteral(" (") +
           qs(request.filter_pattern) + QStringLiteral(")");
}

QString initial_path(const FileDialogRequest& request) {
    if (!request.initial_file.empty())
        return qs(request.initial_file);
    return qs(request.initial_directory);
}

std::optional<QString> chosen(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return path;
}
} // namespace

void QtDialogs::message_box(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, dialog_title(), text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool QtDialogs::ask_yes_no(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, dialog_title(), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::open_file(QWidget* parent, const FileDialogRequest& request) {
    return chosen(QFileDialog::getOpenFileName(parent, QString(), initial_path(request),
                                               filter_text(request)));
}

std::optional<QString> QtDialogs::save_file(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog::Options options;
    if (!request.confirm_overwrite)
        options |= QFileDialog::DontConfirmOverwrite;
    return chosen(QFileDialog::getSaveFileName(parent, QString(), initial_path(request),
                                               filter_text(request), nullptr, options));
}

void ScriptedDialogs::message_box(QWidget*, const QString& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

bool ScriptedDialogs::ask_yes_no(QWidget*, const QString& text) {
    std::lock_guard lock(mutex_);
    questions_.push_back(text);
    if (answers_.empty())
        return false;
    bool yes = answers_.front();
    answers_.pop_front();
    return yes;
}

std::optional<QString> ScriptedDialogs::open_file(QWidget*, const FileDialogRequest& request) {
    return next_file_choice(request);
}

std::optional<QString> ScriptedDialogs::save_file(QWidget*, const FileDialogRequest& request) {
    return next_file_choice(request);
}

std::optional<QString> ScriptedDialogs::next_file_choice(const FileDialogRequest& request) {
    std::lock_guard lock(mutex_);
    file_requests_.push_back(request);
    if (file_choices_.empty())
        return std::nullopt;
    QString choice = file_choices_.front();
    file_choices_.pop_front();
    return chosen(choice);
}

void ScriptedDialogs::queue_answer(bool yes) {
    std::lock_guard lock(mutex_);
    answers_.push_back(yes);
}

void ScriptedDialogs::queue_file_choice(const QString& path) {
    std::lock_guard lock(mutex_);
    file_choices_.push_back(path);
}

std::vector<QString> ScriptedDialogs::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<QString> ScriptedDialogs::questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
}

std::vector<FileDialogRequest> ScriptedDialogs::file_requests() const {
    std::lock_guard lock(mutex_);
    return file_requests_;
}

} // namespace kestrova
