#pragma once
// The window's status bar: two sunken panels, the first 500 pixels wide with
// its text on the left, the second the rest with its text centred; no size grip.

#include <QWidget>

#include <array>

class QLabel;

class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent);
    QLabel* panel(int i) const { return panels_[std::size_t(i)]; }
    QString panelText(int i) const;
    void setPanelText(int i, const QString& text);

private:
    std::array<QLabel*, 2> panels_{};
};
