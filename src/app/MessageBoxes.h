#pragma once
// Every message box of the program goes through one small interface, so that
// tests can record what would be shown instead of waiting for a click.

#include <QPointer>
#include <QString>
#include <QWidget>

class QMessageBox;

class MessageBoxes {
public:
    enum class Icon { Warning, Error, Information };

    virtual ~MessageBoxes() = default;
    // Shows the box with one OK button and returns when it is dismissed.
    virtual void show(Icon icon, const QString& caption, const QString& text) = 0;

    // Asks with two buttons and returns true when `yes` is chosen. `no` is
    // what Escape (or closing the box) chooses, and the default button
    // unless `yesIsDefault`.
    virtual bool ask(Icon icon, const QString& caption, const QString& text, const QString& yes,
                     const QString& no, bool yesIsDefault = false) = 0;

    void warning(const QString& caption, const QString& text) { show(Icon::Warning, caption, text); }
    void error(const QString& caption, const QString& text) { show(Icon::Error, caption, text); }
    void information(const QString& caption, const QString& text) { show(Icon::Information, caption, text); }
};

// The application title: the window's caption and the caption of the
// generic error message.
QString applicationTitle();

// The text of the generic error message: a full stop is added unless the
// text is empty or already ends in a character whose code is at most that
// of "." (so "... (5)" and "...!" are left as they are).
QString withFullStop(const QString& text);

// The real boxes: modal for the whole program, so that no other window takes
// input while one is shown. The main window is not kept on top while a box
// is up (the box would otherwise disappear behind it), and is put on top
// again afterwards.
class ModalMessageBoxes : public MessageBoxes {
public:
    void setWindow(QWidget* window) { window_ = window; }
    void show(Icon icon, const QString& caption, const QString& text) override;
    bool ask(Icon icon, const QString& caption, const QString& text, const QString& yes, const QString& no,
             bool yesIsDefault = false) override;

private:
    // Runs the box modal for the whole program, the window not on top meanwhile.
    void exec(QMessageBox& box);

    QPointer<QWidget> window_;
};
