// The window's layout: every control's place, size, font, caption, tab order
// and the name a screen reader gives it.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "KeyRouter.h"
#include "MainUnit.h"
#include "text/RecordText.h"
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

}  // namespace

void TMainForm::buildControls() {
    const QFont regular = windowFont();
    QFont bold = regular;
    bold.setBold(true);
    setFont(regular);

    auto edit = [&](int x, int y) {
        auto* e = new QLineEdit(this);
        e->setGeometry(x, y, 257, 21);
        applyRecordRules(e);
        return e;
    };
    auto button = [&](const QString& text, int x, int y) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(x, y, 105, 25);
        b->setFont(bold);
        b->setCursor(Qt::PointingHandCursor);
        b->setAutoDefault(false);
        b->setShortcut(QKeySequence());  // the window dispatches accelerators itself
        return b;
    };
    // A fallback font wider than the original would clip the captions: a
    // box then grows to fit, the one at the right edge towards the left but
    // not past minLeft; where even that is too little, its font narrows.
    auto checkBox = [&](const QString& text, int x, int y, int w, const QFont& font, int minLeft = 0) {
        auto* c = new QCheckBox(text, this);
        c->setFont(font);
        int need = c->sizeHint().width();
        if (need > w) {
            const bool rightEdge = x + w > width() - 16;
            const int room = rightEdge ? x + w - minLeft : width() - x;
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
    };

    // Created in tab order.
    Zoznam = new ZoznamView(*this, this);
    Zoznam->setGeometry(8, 22, 273, 235);
    Zoznam->setFont(bold);
    model_ = new ZoznamModel(catalogue_, this);
    Zoznam->setModel(model_);
    Zoznam->setSelectionBehavior(QAbstractItemView::SelectRows);
    Zoznam->setSelectionMode(QAbstractItemView::SingleSelection);
    Zoznam->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Zoznam->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Zoznam->setTextElideMode(Qt::ElideNone);
    Zoznam->setTabKeyNavigation(false);
    catalogue_.setVisibleRows((Zoznam->height() - 2 * Zoznam->frameWidth()) / ZoznamView::ItemHeight);

    // Left of DelExt stands the "Nová položka:" label, bold, at 303.
    const int labelEnd = 303 + QFontMetrics(bold).horizontalAdvance(QStringLiteral("Nová položka:")) + 8;
    DelExt = checkBox(QStringLiteral("z&mazať \".zip\", \".rar\", \".exe\""), 412, 4, 149, regular,
                      std::min(412, labelEnd));
    NewPolozka = edit(303, 22);
    NewPoznamka = edit(303, 67);
    Write = button(QStringLiteral("Z&apísať"), 456, 96);
    Clear = button(QStringLiteral("&Vyčistiť"), 304, 96);
    // Drawn and announced as the default button; the Enter itself is routed
    // by the window (KeyRouter), not by Qt's default-button rules.
    Write->setDefault(true);
    Zoradit = checkBox(QStringLiteral("Z&oradiť zoznam"), 304, 132, 113, bold);
    DelPlaceBox = checkBox(QStringLiteral("Zmazať &umiestnenie"), 304, 148, 137, bold);
    Polozka = edit(304, 196);
    Poznamka = edit(304, 236);
    Poznamka->setReadOnly(true);
    Poznamka->setFocusPolicy(Qt::ClickFocus);

    // Labels size themselves to their text from the given left and top.
    auto label = [&](const QString& text, QWidget* buddy, int x, int y, int w) {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        l->setFont(bold);
        l->setBuddy(buddy);
        l->setGeometry(x, y, std::max(w, l->sizeHint().width()), 13);
        return l;
    };
    Label1 = label(QStringLiteral("&Zoznam:"), Zoznam, 8, 8, 49);
    NewPolozkaLabel = label(QStringLiteral("&Nová položka:"), NewPolozka, 303, 6, 83);
    NewPoznamkaLabel = label(QStringLiteral("&Umiestnenie:"), NewPoznamka, 303, 51, 74);
    PolozkaLabel = label(QStringLiteral("<= Položka:"), Polozka, 304, 180, 68);
    PoznamkaLabel = label(QStringLiteral("<= Umiestnenie:"), Poznamka, 304, 220, 92);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    Bevel1->setGeometry(292, 8, 2, 249);
    Bevel2 = new QFrame(this);
    Bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel2->setGeometry(302, 172, 259, 2);

    Status = new StatusBar(this);
    Status->setGeometry(0, 265, 569, 19);

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
    setObjectName(QStringLiteral("MainForm"));

    QWidget* order[] = {Zoznam, DelExt, NewPolozka, NewPoznamka, Write, Clear, Zoradit, DelPlaceBox, Polozka};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    // What a screen reader says for each control. A button says its caption
    // without the accelerator mark. A labelled control and its label say what
    // the field holds: without the colon and the arrow ("less than equals"),
    // and telling the new record's fields from the selected record's.
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
    installWindowAccessibility();
}
