#pragma once
// The window's controls and their layout: every control's place, size, font,
// caption, tab order, object name and the name a screen reader gives it.
//
// Held by the window as a form's generated UI class is held (privately), so
// that its handlers reach each control by the control's own name; nothing
// outside the window does. Others find a control by its object name, which
// is that same name.

class QCheckBox;
class QFont;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class StatusBar;
class ZoznamHost;
class ZoznamModel;
class ZoznamView;
struct KeyControls;

namespace vrindel {
class Catalogue;
}

class MainLayout {
protected:
    // --- Controls, in tab order, then those without one ------------------------
    ZoznamView* Zoznam = nullptr;
    QCheckBox* DelExt = nullptr;
    QLineEdit* NewPolozka = nullptr;
    QLineEdit* NewPoznamka = nullptr;
    QPushButton* Write = nullptr;
    QPushButton* Clear = nullptr;
    QCheckBox* Zoradit = nullptr;
    QCheckBox* DelPlaceBox = nullptr;
    QLineEdit* Polozka = nullptr;
    QLineEdit* Poznamka = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* NewPolozkaLabel = nullptr;
    QLabel* NewPoznamkaLabel = nullptr;
    QLabel* PolozkaLabel = nullptr;
    QLabel* PoznamkaLabel = nullptr;
    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    StatusBar* Status = nullptr;

    // Makes every control on the form, which must have its final size. The
    // list tells host what the user does in it and shows the catalogue
    // through a model made with it, owned by the form and returned.
    ZoznamModel* buildControls(QWidget* form, ZoznamHost& host, const vrindel::Catalogue& catalogue);

    // What the keyboard needs of the controls: the controls keys go to,
    // and those with accelerators.
    KeyControls keyControls(QWidget* form) const;

private:
    ZoznamModel* buildList(QWidget* form, ZoznamHost& host, const vrindel::Catalogue& catalogue, const QFont& bold);
    void buildEntry(QWidget* form, const QFont& regular, const QFont& bold);
    void buildLabels(QWidget* form, const QFont& bold);
    void buildSeparators(QWidget* form);
    void nameControls(QWidget* form);
    void orderTabs(QWidget* form);
    void nameForScreenReaders();
};
