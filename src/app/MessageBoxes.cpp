#include "MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <QWindow>

QString applicationTitle() {
    return QStringLiteral("Vrindel 2.1");
}

QString withFullStop(const QString& text) {
    if (text.isEmpty() || text.back().unicode() <= u'.')
        return text;
    return text + u'.';
}

void ModalMessageBoxes::exec(QMessageBox& box) {
    QPointer<QWindow> handle = window_ ? window_->windowHandle() : nullptr;
    const bool onTop = handle && handle->isVisible() && handle->flags().testFlag(Qt::WindowStaysOnTopHint);
    // Changing the platform window's flags directly keeps the window mapped;
    // QWidget::setWindowFlags would hide it.
    if (onTop)
        handle->setFlag(Qt::WindowStaysOnTopHint, false);

    // A box without the window on screen (before it is shown, or when a
    // second window is refused) is a window of its own kept on top: as a
    // modal dialog of no window it would sit in the window manager's
    // normal layer, hidden behind any window kept on top, another of ours
    // included. With no window shown, there is nothing for it to block.
    if (!window_ || !window_->isVisible())
        box.setWindowFlags((box.windowFlags() & ~Qt::WindowType_Mask) | Qt::Window | Qt::WindowStaysOnTopHint);
    else
        box.setWindowModality(Qt::ApplicationModal);
    box.exec();

    if (onTop && handle)
        handle->setFlag(Qt::WindowStaysOnTopHint, true);
}

namespace {

QMessageBox::Icon boxIcon(MessageBoxes::Icon icon) {
    switch (icon) {
    case MessageBoxes::Icon::Warning: return QMessageBox::Warning;
    case MessageBoxes::Icon::Error: return QMessageBox::Critical;
    case MessageBoxes::Icon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void ModalMessageBoxes::show(Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, window_);
    exec(box);
}

bool ModalMessageBoxes::ask(Icon icon, const QString& caption, const QString& text, const QString& yes,
                            const QString& no, bool yesIsDefault) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::NoButton, window_);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* noButton = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(yesIsDefault ? yesButton : noButton);
    box.setEscapeButton(noButton);
    exec(box);
    return box.clickedButton() == yesButton;
}
