#pragma once
// The window's keyboard: Enter and Escape offered to the push buttons first,
// the accelerator letters, and every other key to the focused control's handler.

#include <QObject>
#include <QString>

class QKeyEvent;
class QWidget;
class TMainForm;

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

// Watches every key and focus event of the application while it lives; acts
// on those of its window only.
class KeyRouter : public QObject {
    Q_OBJECT
public:
    explicit KeyRouter(TMainForm& form);
    ~KeyRouter() override;
    KeyRouter(const KeyRouter&) = delete;
    KeyRouter& operator=(const KeyRouter&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool routeKey(QKeyEvent* event);
    bool accelerator(int key);
    QWidget* keyTarget() const;

    TMainForm& form_;
};
