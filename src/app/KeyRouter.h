#pragma once
// The window's keyboard: Enter and Escape offered to the push buttons first,
// the accelerator letters, and every other key to the focused control's handler.

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class QWidget;
class ZoznamActions;

// Virtual-key codes the handlers look at.
namespace vk {
inline constexpr int Return = 13;
inline constexpr int Escape = 27;
inline constexpr int Up = 38;
inline constexpr int Down = 40;
inline constexpr int Delete = 46;
}  // namespace vk

// A caption without its accelerator mark: "&" marks the letter, "&&" is a
// plain "&".
QString withoutAccelerator(const QString& caption);

// What the keys reach of the window: the handlers they run, each run as an
// event's handler runs.
class KeyTarget {
public:
    // Runs a handler as an event runs it; returns whether it ran to its end.
    virtual bool run(const std::function<void()>& handler) = 0;
    // Enter and Escape, and the buttons' accelerators.
    virtual void WriteClick() = 0;
    virtual void ClearClick() = 0;
    // The focused control's key-down handler, given the virtual-key code.
    virtual void ZoznamKeyDown(int key) = 0;
    virtual void NewPolozkaKeyDown(int key) = 0;
    virtual void PolozkaKeyDown(int key) = 0;
    // A label's accelerator focuses its control; a check box's focuses the
    // box and turns it over, as a click does.
    virtual void focusControl(QWidget* control) = 0;
    virtual void setCheck(QCheckBox* box, bool on) = 0;

protected:
    ~KeyTarget() = default;
};

// The controls that decide where a key goes.
struct KeyControls {
    QWidget* window = nullptr;
    QWidget* Zoznam = nullptr;
    QWidget* NewPolozka = nullptr;
    QWidget* Polozka = nullptr;
    QPushButton* Write = nullptr;
    QPushButton* Clear = nullptr;
    // Whose accelerators there are, in the order they are asked.
    std::vector<QLabel*> labels;
    std::vector<QAbstractButton*> buttons;
};

// Watches every key and focus event of the application while it lives; acts
// on those of its window only.
class KeyRouter : public QObject {
    Q_OBJECT
public:
    KeyRouter(KeyTarget& handlers, KeyControls controls, ZoznamActions& actions);
    ~KeyRouter() override;
    KeyRouter(const KeyRouter&) = delete;
    KeyRouter& operator=(const KeyRouter&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool routeKey(QKeyEvent* event);
    // Each part of the routing, in turn, until one takes the key.
    bool buttonKey(int key, Qt::KeyboardModifiers modifiers, QWidget* focused);
    bool acceleratorKey(int key, Qt::KeyboardModifiers modifiers, QWidget* focused);
    bool listKey(int key, Qt::KeyboardModifiers modifiers, QWidget* focused);
    bool controlKey(const QKeyEvent* event, Qt::KeyboardModifiers modifiers, QWidget* focused);
    bool accelerator(int key);
    // Where keys go: the focused control, else the window.
    QWidget* focused() const;

    KeyTarget& handlers_;
    const KeyControls controls_;
    ZoznamActions& actions_;
};
