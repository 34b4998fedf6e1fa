// The window's layout: every control's place, size, font, caption, tab order
// and the name a screen reader gives it.
#include "MainLayout.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "KeyRouter.h"
#include "records/Catalogue.h"
#include "RecordTextInput.h"
#include "StatusBar.h"
#include "WindowAccessible.h"
#include "ZoznamModel.h"
#include "ZoznamView.h"

namespace {

// "MS Sans Serif" at 8 points where it exists, else the desktop's own
// sans-serif at the same size.
QFont windowFont() {
    QFont font = QFontDatabase::families().contains(QStringLiteral("MS Sans Serif"))
                     ? QFont(QStringLiteral("MS Sans Serif"))
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    font.setBold(false);
    font.setItalic(false);
    return font;
}

QLineEdit* edit(QWidget* form, int x, int y) {
    auto* e = new QLineEdit(form);
    e->setGeometry(x, y, 257, 21);
    applyRecordRules(e);
    return e;
}

QPushButton* button(QWidget* form, const QString& text, int x, int y, const QFont& bold) {
    auto* b = new QPushButton(text, form);
    b->setGeometry(x, y, 105, 25);
    b->setFont(bold);
    b->setCursor(Qt::PointingHandCursor);
    b->setAutoDefault(false);
    b->setShortcut(QKeySequence());  // the window dispatches accelerators itself
    return b;
}

// A fallback font wider than the original would clip the captions: a box
// then grows to fit, the one at the right edge towards the left but not past
// minLeft; where even that is too little, its font narrows.
QCheckBox* checkBox(QWidget* form, const QString& text, int x, int y, int w, const QFont& font, int minLeft = 0) {
    auto* c = new QCheckBox(text, form);
    c->setFont(font);
    int need = c->sizeHint().width();
    if (need > w) {
        const bool rightEdge = x + w > form->width() - 16;
        const int room = rightEdge ? x + w - minLeft : form->width() - x;
        for (int stretch = 98; need > room && stretch >= 70; stretch -= 2) {
            QFont narrower = font;
            narrower.setStretch(stretch);
            c->setFont(narrower);
            need = c->sizeHint().width();
        }
        if (rightEdge)
            x = std::max(minLeft, x + w - need);
        w = need;
    }
    c->setGeometry(x, y, w, 17);
    c->setChecked(true);
    c->setCursor(Qt::PointingHandCursor);
    c->setShortcut(QKeySequence());
    return c;
}

// Labels size themselves to their text from the given left and top.
QLabel* label(QWidget* form, const QString& text, QWidget* buddy, int x, int y, int w, const QFont& bold) {
    auto* l = new QLabel(text, form);
    l->setTextFormat(Qt::PlainText);
    l->setFont(bold);
    l->setBuddy(buddy);
    l->setGeometry(x, y, std::max(w, l->sizeHint().width()), 13);
    return l;
}

}  // namespace

ZoznamModel* MainLayout::buildControls(QWidget* form, ZoznamHost& host, const vrindel::Catalogue& catalogue) {
    const QFont regular = windowFont();
    QFont bold = regular;
    bold.setBold(true);
    form->setFont(regular);

    // Created in tab order.
    ZoznamModel* model = buildList(form, host, catalogue, bold);
    buildEntry(form, regular, bold);
    buildLabels(form, bold);
    buildSeparators(form);
    Status = new StatusBar(form);
    Status->setGeometry(0, 265, 569, 19);

    nameControls(form);
    orderTabs(form);
    nameForScreenReaders();
    installWindowAccessibility();
    return model;
}

ZoznamModel* MainLayout::buildList(QWidget* form, ZoznamHost& host, const vrindel::Catalogue& catalogue,
                                   const QFont& bold) {
    Zoznam = new ZoznamView(host, form);
    Zoznam->setGeometry(8, 22, 273, 235);
    Zoznam->setFont(bold);
    auto* model = new ZoznamModel(catalogue, form);
    Zoznam->setModel(model);
    Zoznam->setSelectionBehavior(QAbstractItemView::SelectRows);
    Zoznam->setSelectionMode(QAbstractItemView::SingleSelection);
    Zoznam->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Zoznam->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Zoznam->setTextElideMode(Qt::ElideNone);
    Zoznam->setTabKeyNavigation(false);
    return model;
}

void MainLayout::buildEntry(QWidget* form, const QFont& regular, const QFont& bold) {
    // Left of DelExt stands the "Nová položka:" label, bold, at 303.
    const int labelEnd = 303 + QFontMetrics(bold).horizontalAdvance(QStringLiteral("Nová položka:")) + 8;
    DelExt = checkBox(form, QStringLiteral("z&mazať \".zip\", \".rar\", \".exe\""), 412, 4, 149, regular,
                      std::min(412, labelEnd));
    NewPolozka = edit(form, 303, 22);
    NewPoznamka = edit(form, 303, 67);
    Write = button(form, QStringLiteral("Z&apísať"), 456, 96, bold);
    Clear = button(form, QStringLiteral("&Vyčistiť"), 304, 96, bold);
    // Drawn and announced as the default button; the Enter itself is routed
    // by the window (KeyRouter), not by Qt's default-button rules.
    Write->setDefault(true);
    Zoradit = checkBox(form, QStringLiteral("Z&oradiť zoznam"), 304, 132, 113, bold);
    DelPlaceBox = checkBox(form, QStringLiteral("Zmazať &umiestnenie"), 304, 148, 137, bold);
    Polozka = edit(form, 304, 196);
    Poznamka = edit(form, 304, 236);
    Poznamka->setReadOnly(true);
    Poznamka->setFocusPolicy(Qt::ClickFocus);
}

void MainLayout::buildLabels(QWidget* form, const QFont& bold) {
    Label1 = label(form, QStringLiteral("&Zoznam:"), Zoznam, 8, 8, 49, bold);
    NewPolozkaLabel = label(form, QStringLiteral("&Nová položka:"), NewPolozka, 303, 6, 83, bold);
    NewPoznamkaLabel = label(form, QStringLiteral("&Umiestnenie:"), NewPoznamka, 303, 51, 74, bold);
    PolozkaLabel = label(form, QStringLiteral("<= Položka:"), Polozka, 304, 180, 68, bold);
    PoznamkaLabel = label(form, QStringLiteral("<= Umiestnenie:"), Poznamka, 304, 220, 92, bold);
}

void MainLayout::buildSeparators(QWidget* form) {
    Bevel1 = new QFrame(form);
    Bevel1->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    Bevel1->setGeometry(292, 8, 2, 249);
    Bevel2 = new QFrame(form);
    Bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel2->setGeometry(302, 172, 259, 2);
}

void MainLayout::nameControls(QWidget* form) {
    const std::pair<QObject*, const char*> names[] = {
        {Zoznam, "Zoznam"},         {DelExt, "DelExt"},
        {NewPolozka, "NewPolozka"}, {NewPoznamka, "NewPoznamka"},
        {Write, "Write"},           {Clear, "Clear"},
        {Zoradit, "Zoradit"},       {DelPlaceBox, "DelPlaceBox"},
        {Polozka, "Polozka"},       {Poznamka, "Poznamka"},
        {Label1, "Label1"},         {NewPolozkaLabel, "NewPolozkaLabel"},
        {NewPoznamkaLabel, "NewPoznamkaLabel"}, {PolozkaLabel, "PolozkaLabel"},
        {PoznamkaLabel, "PoznamkaLabel"}, {Bevel1, "Bevel1"},
        {Bevel2, "Bevel2"},         {Status, "Status"},
    };
    for (const auto& [object, name] : names)
        object->setObjectName(QLatin1String(name));
    form->setObjectName(QStringLiteral("MainForm"));
}

void MainLayout::orderTabs(QWidget* form) {
    QWidget* order[] = {Zoznam, DelExt, NewPolozka, NewPoznamka, Write, Clear, Zoradit, DelPlaceBox, Polozka};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        form->setTabOrder(order[i], order[i + 1]);
}

void MainLayout::nameForScreenReaders() {
    // A button says its caption without the accelerator mark. A labelled
    // control and its label say what the field holds: without the colon and
    // the arrow ("less than equals"), and telling the new record's fields
    // from the selected record's.
    const std::pair<QLabel*, const char16_t*> said[] = {
        {Label1, u"Zoznam"},
        {NewPolozkaLabel, u"Nová položka"},
        {NewPoznamkaLabel, u"Umiestnenie novej položky"},
        {PolozkaLabel, u"Položka vybraného záznamu"},
        {PoznamkaLabel, u"Umiestnenie vybraného záznamu"},
    };
    for (const auto& [l, name] : said) {
        l->setAccessibleName(QString::fromUtf16(name));
        l->buddy()->setAccessibleName(QString::fromUtf16(name));
    }
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{DelExt, Write, Clear, Zoradit, DelPlaceBox})
        b->setAccessibleName(withoutAccelerator(b->text()));
}

KeyControls MainLayout::keyControls(QWidget* form) const {
    return {
        form, Zoznam, NewPolozka, Polozka, Write, Clear,
        // Labels are asked first: "&Umiestnenie:" wins the U.
        {Label1, NewPolozkaLabel, NewPoznamkaLabel, PolozkaLabel, PoznamkaLabel},
        {DelExt, Write, Clear, Zoradit, DelPlaceBox},
    };
}
