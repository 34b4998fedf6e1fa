// The window's keyboard: Enter and Escape offered to the push buttons first,
// the accelerator letters, and every other key to the focused control's handler.
#include "KeyRouter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

#include "ListActions.h"

namespace {

QChar acceleratorOf(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] == u'&') {
            ++i;
            continue;
        }
        return caption[i + 1].toUpper();
    }
    return {};
}

int virtualKey(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vk::Return;
    case Qt::Key_Escape:
        return vk::Escape;
    case Qt::Key_Up:
        return vk::Up;
    case Qt::Key_Down:
        return vk::Down;
    case Qt::Key_Delete:
        return vk::Delete;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    default: {
        // Letters, digits and the space have the same codes in both. Other
        // printable keys differ: Qt's code of "." is the Delete key's
        // virtual-key code, "(" that of Down and "&" that of Up.
        const int key = event->key();
        const bool same = (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) ||
                          key == Qt::Key_Space;
        return same ? key : 0;
    }
    }
}

}  // namespace

QString withoutAccelerator(const QString& caption) {
    QString out;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&')
                out += u'&';
            else
                continue;
            ++i;
            continue;
        }
        out += caption[i];
    }
    return out;
}

KeyRouter::KeyRouter(KeyTarget& handlers, KeyControls controls, ZoznamActions& actions)
    : QObject(nullptr), handlers_(handlers), controls_(std::move(controls)), actions_(actions) {
    QCoreApplication::instance()->installEventFilter(this);
}

KeyRouter::~KeyRouter() {
    QCoreApplication::instance()->removeEventFilter(this);
}

QWidget* KeyRouter::focused() const {
    QWidget* focused = controls_.window->focusWidget();
    return focused ? focused : controls_.window;
}

bool KeyRouter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::FocusIn)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != controls_.window)
        return false;

    if (type == QEvent::FocusIn) {
        // An edit that gets the focus from the keyboard or from a handler
        // selects its whole text; a click places the caret.
        auto* edit = qobject_cast<QLineEdit*>(widget);
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (edit && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                     reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason))
            edit->selectAll();
        return false;
    }

    if (widget != focused())
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Every key of this window reaches it as a key press: Qt's own
        // mnemonics (delayed clicks, focus cycling between widgets that share
        // a letter) never fire here; the window dispatches its accelerators.
        event->accept();
        return true;
    }
    return routeKey(static_cast<QKeyEvent*>(event));
}

bool KeyRouter::routeKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    QWidget* at = focused();
    bool taken = false;
    const bool ok = handlers_.run([&] {
        taken = buttonKey(key, modifiers, at) || acceleratorKey(key, modifiers, at) || listKey(key, modifiers, at) ||
                controlKey(event, modifiers, at);
    });
    // An error ends the key's handling too.
    return taken || !ok;
}

bool KeyRouter::buttonKey(int key, Qt::KeyboardModifiers modifiers, QWidget* focused) {
    // Enter and Escape are offered to the push buttons first.
    if (modifiers != Qt::NoModifier)
        return false;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (focused == controls_.Write || focused == controls_.Clear) {
            focused == controls_.Write ? handlers_.WriteClick() : handlers_.ClearClick();
            return true;
        }
        if (controls_.Write->isEnabled()) {
            handlers_.WriteClick();
            return true;
        }
    }
    if (key == Qt::Key_Escape && controls_.Clear->isEnabled()) {
        handlers_.ClearClick();
        return true;
    }
    return false;
}

bool KeyRouter::acceleratorKey(int key, Qt::KeyboardModifiers modifiers, QWidget* focused) {
    // Alt with the letter wherever the focus is, the letter alone while a
    // push button or a check box has the focus.
    if (key < Qt::Key_A || key > Qt::Key_Z)
        return false;
    const Qt::KeyboardModifiers withoutShift = modifiers & ~Qt::ShiftModifier;
    const bool alt = withoutShift == Qt::AltModifier;
    const bool bare = withoutShift == Qt::NoModifier && qobject_cast<QAbstractButton*>(focused);
    return (alt || bare) && accelerator(key);
}

bool KeyRouter::listKey(int key, Qt::KeyboardModifiers modifiers, QWidget* focused) {
    // The list's further actions, on keys the window leaves free: find
    // wherever the focus is, the rest in the list. In the edits, Ctrl+Z
    // stays the edit's own.
    const bool plain = modifiers == Qt::NoModifier;
    const bool ctrl = modifiers == Qt::ControlModifier;
    if (key == Qt::Key_F && ctrl) {
        actions_.ZoznamFind();
        return true;
    }
    if (focused != controls_.Zoznam)
        return false;
    if (key == Qt::Key_Z && ctrl)
        actions_.ZoznamUndo();
    else if ((key == Qt::Key_Y && ctrl) || (key == Qt::Key_Z && modifiers == (Qt::ControlModifier | Qt::ShiftModifier)))
        actions_.ZoznamRedo();
    else if (key == Qt::Key_F2 && plain)
        actions_.ZoznamRelocate();
    else if ((key == Qt::Key_Menu && plain) || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier))
        actions_.ZoznamContextMenu(actions_.contextMenuPoint());
    else
        return false;
    return true;
}

bool KeyRouter::controlKey(const QKeyEvent* event, Qt::KeyboardModifiers modifiers, QWidget* focused) {
    // Everything else reaches the focused control's key-down handler,
    // before the control handles the key itself.
    const int code = virtualKey(event);
    if (focused == controls_.Zoznam)
        handlers_.ZoznamKeyDown(code);
    else if (focused == controls_.NewPolozka)
        handlers_.NewPolozkaKeyDown(code);
    else if (focused == controls_.Polozka)
        handlers_.PolozkaKeyDown(code);

    // Write is drawn as the default button, which would make Qt click it
    // on any Enter while it has the focus; a button takes only the plain
    // one, above.
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && qobject_cast<QPushButton*>(focused))
        return true;

    // An Alt chord that no control took is no text: an edit never types
    // it. (Ctrl+Alt may be AltGr, which types.)
    const bool altChord = (modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier);
    return altChord && !event->text().isEmpty() && event->text().front().isPrint();
}

bool KeyRouter::accelerator(int key) {
    const QChar letter(key);
    for (QLabel* l : controls_.labels) {
        QWidget* control = l->buddy();
        if (acceleratorOf(l->text()) == letter && control && control->isEnabled()) {
            handlers_.focusControl(control);
            return true;
        }
    }
    for (QAbstractButton* b : controls_.buttons) {
        if (acceleratorOf(b->text()) != letter || !b->isEnabled())
            continue;
        if (auto* box = qobject_cast<QCheckBox*>(b)) {
            handlers_.focusControl(box);
            handlers_.setCheck(box, !box->isChecked());
        } else if (b == controls_.Write) {
            handlers_.WriteClick();
        } else {
            handlers_.ClearClick();
        }
        return true;
    }
    return false;
}
