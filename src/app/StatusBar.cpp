// The window's status bar: two sunken panels, the first 500 pixels wide with
// its text on the left, the second the rest with its text centred; no size grip.
#include "StatusBar.h"

#include <QLabel>

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setTextFormat(Qt::PlainText);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setLineWidth(1);
        panels_[i] = panel;
    }
    panels_[0]->setGeometry(0, 0, 500, 19);
    panels_[0]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panels_[1]->setGeometry(500, 0, 69, 19);
    panels_[1]->setAlignment(Qt::AlignCenter);
}

QString StatusBar::panelText(int i) const {
    return panels_[std::size_t(i)]->text();
}

void StatusBar::setPanelText(int i, const QString& text) {
    panels_[std::size_t(i)]->setText(text);
}
