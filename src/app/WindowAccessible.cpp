// What assistive technology sees of the window beyond its controls: a frame
// with its title, a status bar holding its two panels, bevels as separators.
#include "WindowAccessible.h"

#include <QAccessibleWidget>
#include <QFrame>

namespace {

QAccessibleInterface* factory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    // The top level is named by its title, as every window is.
    if (className == u"TMainForm")
        return new QAccessibleWidget(widget, QAccessible::Window);
    // Its panels are its children: a screen reader's "read the status bar"
    // finds their texts.
    if (className == u"StatusBar")
        return new QAccessibleWidget(widget, QAccessible::StatusBar);
    if (className == u"QFrame") {
        const QFrame::Shape shape = static_cast<QFrame*>(widget)->frameShape();
        if (shape == QFrame::HLine || shape == QFrame::VLine)
            return new QAccessibleWidget(widget, QAccessible::Separator);
    }
    return nullptr;
}

}  // namespace

void installWindowAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}
