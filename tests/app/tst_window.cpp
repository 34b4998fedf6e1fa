// The window as it is laid out: caption, size, controls and their settings,
// and what assistive technology reads from them.

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QMessageBox>
#include <QTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTranslator>
#include <QWindow>

#include <cstdlib>
#include <memory>

#include "AppTestSupport.h"
#include "MainUnit.h"
#include "MessageBoxes.h"
#include "QtTranslations.h"

namespace {

QString accessibleName(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    return face ? face->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

}  // namespace

class Window : public QObject {
    Q_OBJECT

    std::unique_ptr<ScratchDir> dir_;

private slots:
    void init() {
        dir_ = std::make_unique<ScratchDir>();
        QVERIFY(dir_->isValid());
        writeCatalogue({{"Kniha", "Polica"}});
        writeOptions(true, false, true);
    }
    void cleanup() { dir_.reset(); }

    void windowProperties() {
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Vrindel 2.1"));
        QCOMPARE(form.windowHandle()->title(), QStringLiteral("Vrindel 2.1"));
        QCOMPARE(form.size(), QSize(569, 284));
        QCOMPARE(form.minimumSize(), QSize(569, 284));
        QCOMPARE(form.maximumSize(), QSize(569, 284));
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(form.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));

        // Centred on the primary screen by its outer frame.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect outer = form.frameGeometry();
        QVERIFY(outer.size() != form.size());
        QVERIFY(std::abs((outer.top() - screen.top()) - (screen.bottom() - outer.bottom())) <= 1);
        QVERIFY(std::abs((outer.left() - screen.left()) - (screen.right() - outer.right())) <= 1);
    }

    void controlsSitWhereTheLayoutPutsThem() {
        RecordingBoxes boxes;
        TMainForm form(boxes);
        const struct {
            QWidget* widget;
            QRect rect;
        } expected[] = {
            {ui(form).Zoznam, {8, 22, 273, 235}},
            {ui(form).NewPolozka, {303, 22, 257, 21}}, {ui(form).NewPoznamka, {303, 67, 257, 21}},
            {ui(form).Write, {456, 96, 105, 25}},      {ui(form).Clear, {304, 96, 105, 25}},
            {ui(form).Polozka, {304, 196, 257, 21}},   {ui(form).Poznamka, {304, 236, 257, 21}},
            {ui(form).Bevel1, {292, 8, 2, 249}},       {ui(form).Bevel2, {302, 172, 259, 2}},
            {ui(form).Status, {0, 265, 569, 19}},
        };
        for (const auto& e : expected)
            QCOMPARE(e.widget->geometry(), e.rect);

        // Check boxes keep their place and size unless the font needs more
        // room for the caption; then they grow to fit, the one against the
        // right edge towards the left.
        const struct {
            QCheckBox* box;
            QRect rect;
            bool rightAnchored;
        } boxes_[] = {
            {ui(form).DelExt, {412, 4, 149, 17}, true},
            {ui(form).Zoradit, {304, 132, 113, 17}, false},
            {ui(form).DelPlaceBox, {304, 148, 137, 17}, false},
        };
        for (const auto& b : boxes_) {
            const int width = std::max(b.rect.width(), b.box->sizeHint().width());
            QCOMPARE(b.box->width(), width);
            QCOMPARE(b.box->height(), 17);
            QCOMPARE(b.box->y(), b.rect.y());
            if (b.rightAnchored)
                QCOMPARE(b.box->geometry().right(), b.rect.right());
            else
                QCOMPARE(b.box->x(), b.rect.x());
            QVERIFY(b.box->geometry().right() < form.width());
        }
        // Growing towards the left stops short of the label beside it.
        QVERIFY(ui(form).DelExt->x() > ui(form).NewPolozkaLabel->geometry().right());

        // Labels stand 3 pixels above their edits, at least as wide as given.
        const struct {
            QLabel* label;
            QRect rect;
        } labels[] = {
            {ui(form).Label1, {8, 8, 49, 13}},           {ui(form).NewPolozkaLabel, {303, 6, 83, 13}},
            {ui(form).NewPoznamkaLabel, {303, 51, 74, 13}}, {ui(form).PolozkaLabel, {304, 180, 68, 13}},
            {ui(form).PoznamkaLabel, {304, 220, 92, 13}},
        };
        for (const auto& l : labels) {
            QCOMPARE(l.label->pos(), l.rect.topLeft());
            QCOMPARE(l.label->height(), 13);
            QVERIFY(l.label->width() >= l.rect.width());
        }
        QCOMPARE(ui(form).Status->panel(0)->geometry(), QRect(0, 0, 500, 19));
        QCOMPARE(ui(form).Status->panel(1)->geometry(), QRect(500, 0, 69, 19));
        QCOMPARE(ui(form).Status->panel(0)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        QCOMPARE(ui(form).Status->panel(1)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }

    void controlTextsAndSettings() {
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QCOMPARE(ui(form).Label1->text(), QStringLiteral("&Zoznam:"));
        QCOMPARE(ui(form).DelExt->text(), QStringLiteral("z&mazať \".zip\", \".rar\", \".exe\""));
        QCOMPARE(ui(form).NewPolozkaLabel->text(), QStringLiteral("&Nová položka:"));
        QCOMPARE(ui(form).NewPoznamkaLabel->text(), QStringLiteral("&Umiestnenie:"));
        QCOMPARE(ui(form).Write->text(), QStringLiteral("Z&apísať"));
        QCOMPARE(ui(form).Clear->text(), QStringLiteral("&Vyčistiť"));
        QCOMPARE(ui(form).Zoradit->text(), QStringLiteral("Z&oradiť zoznam"));
        QCOMPARE(ui(form).DelPlaceBox->text(), QStringLiteral("Zmazať &umiestnenie"));
        QCOMPARE(ui(form).PolozkaLabel->text(), QStringLiteral("<= Položka:"));
        QCOMPARE(ui(form).PoznamkaLabel->text(), QStringLiteral("<= Umiestnenie:"));

        for (QWidget* w : std::initializer_list<QWidget*>{ui(form).Zoznam, ui(form).Write, ui(form).Clear, ui(form).Zoradit,
                                                           ui(form).DelPlaceBox, ui(form).Label1, ui(form).PolozkaLabel})
            QVERIFY2(w->font().bold(), qPrintable(w->objectName()));
        for (QWidget* w : std::initializer_list<QWidget*>{ui(form).DelExt, ui(form).NewPolozka, ui(form).Polozka})
            QVERIFY(!w->font().bold());
        QCOMPARE(form.font().pointSize(), 8);

        for (QWidget* w : std::initializer_list<QWidget*>{ui(form).DelExt, ui(form).Write, ui(form).Clear, ui(form).Zoradit,
                                                           ui(form).DelPlaceBox})
            QCOMPARE(w->cursor().shape(), Qt::PointingHandCursor);
        // Write looks and reads as the window's default button, Clear not.
        QVERIFY(ui(form).Write->isDefault());
        QVERIFY(!ui(form).Clear->isDefault() && !ui(form).Clear->autoDefault());
        QVERIFY(QAccessible::queryAccessibleInterface(ui(form).Write)->state().defaultButton);
        QVERIFY(!QAccessible::queryAccessibleInterface(ui(form).Clear)->state().defaultButton);
        QVERIFY(ui(form).Poznamka->isReadOnly());
        QVERIFY(!(ui(form).Poznamka->focusPolicy() & Qt::TabFocus));
        QVERIFY(ui(form).Zoznam->visualRect(ui(form).Zoznam->model()->index(0, 0)).height() == 13);
    }

    // Qt's own texts in the window (an edit's context menu) are Slovak under
    // any locale, the C locale too, as the window's own are.
    void qtsOwnTextsAreSlovakWhateverTheLocale() {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_sk.qm")))
            QSKIP("Qt's Slovak translations (qt6-translations-l10n) are not installed");
        const QLocale localeWas;
        QLocale::setDefault(QLocale::c());
        const auto restoreLocale = qScopeGuard([&] { QLocale::setDefault(localeWas); });
        RecordingBoxes boxes;
        TMainForm form(boxes);
        const std::unique_ptr<QTranslator> slovak(installQtTranslations());
        QVERIFY(slovak);
        const std::unique_ptr<QMenu> menu(ui(form).NewPolozka->createStandardContextMenu());
        QStringList texts;
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                texts << action->text().section(QLatin1Char('\t'), 0, 0);  // without the shortcut
        QVERIFY2(texts.contains(QStringLiteral("&Kopírovať")), qPrintable(texts.join(QLatin1Char(' '))));
        for (const char* english : {"&Undo", "&Redo", "Cu&t", "&Copy", "&Paste", "Delete", "Select All"})
            QVERIFY2(!texts.contains(QString::fromLatin1(english)), english);
    }

    void tabOrder() {
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        QCOMPARE(form.focusWidget(), ui(form).Zoznam);
        // Write and Clear start disabled; enable them to see their place.
        ui(form).NewPolozka->setText(QStringLiteral("Nové"));
        ui(form).NewPoznamka->setText(QStringLiteral("Tu"));
        const QList<QWidget*> order = {ui(form).DelExt, ui(form).NewPolozka, ui(form).NewPoznamka, ui(form).Write,
                                       ui(form).Clear,  ui(form).Zoradit,    ui(form).DelPlaceBox,  ui(form).Polozka,
                                       ui(form).Zoznam};
        ui(form).Zoznam->setFocus();
        for (QWidget* next : order) {
            press(form, Qt::Key_Tab);
            QCOMPARE(form.focusWidget(), next);
        }
    }

    void aRealMessageBoxIsModalAndTheWindowStepsBackMeanwhile() {
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        ModalMessageBoxes real;
        real.setWindow(&form);

        struct Seen {
            bool found = false;
            bool windowOnTop = true;
            QString caption, text;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            Qt::WindowModality modality = Qt::NonModal;
            QMessageBox::StandardButtons buttons;
        } seen;
        QTimer::singleShot(0, &form, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen.found = true;
            seen.windowOnTop = form.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
            seen.caption = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.modality = box->windowModality();
            seen.buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        });
        real.error(applicationTitle(), withFullStop(QStringLiteral("Disk full")));

        QVERIFY(seen.found);
        QVERIFY(!seen.windowOnTop);
        QCOMPARE(seen.caption, QStringLiteral("Vrindel 2.1"));
        QCOMPARE(seen.text, QStringLiteral("Disk full."));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.modality, Qt::ApplicationModal);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(form.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void assistiveTechnologyReadsTheWindow() {
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        const struct {
            QWidget* widget;
            const char16_t* name;
        } expected[] = {
            {ui(form).Zoznam, u"Zoznam"},
            {ui(form).DelExt, u"zmazať \".zip\", \".rar\", \".exe\""},
            {ui(form).NewPolozka, u"Nová položka"},
            {ui(form).NewPoznamka, u"Umiestnenie novej položky"},
            {ui(form).Write, u"Zapísať"},
            {ui(form).Clear, u"Vyčistiť"},
            {ui(form).Zoradit, u"Zoradiť zoznam"},
            {ui(form).DelPlaceBox, u"Zmazať umiestnenie"},
            {ui(form).Polozka, u"Položka vybraného záznamu"},
            {ui(form).Poznamka, u"Umiestnenie vybraného záznamu"},
            {ui(form).Label1, u"Zoznam"},
            {ui(form).PolozkaLabel, u"Položka vybraného záznamu"},
        };
        for (const auto& e : expected)
            QCOMPARE(accessibleName(e.widget), QString::fromUtf16(e.name));

        // The window is a window named by its title; the bevels separate.
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&form);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Vrindel 2.1"));
        for (QFrame* bevel : {ui(form).Bevel1, ui(form).Bevel2})
            QCOMPARE(QAccessible::queryAccessibleInterface(bevel)->role(), QAccessible::Separator);

        // The status bar holds its two panels, read as they change.
        QAccessibleInterface* status = QAccessible::queryAccessibleInterface(ui(form).Status);
        QCOMPARE(status->role(), QAccessible::StatusBar);
        QCOMPARE(status->parent()->object(), &form);
        QCOMPARE(status->childCount(), 2);
        auto panels = [&] {
            return QStringList{status->child(0)->text(QAccessible::Name), status->child(1)->text(QAccessible::Name)};
        };
        QCOMPARE(panels(), QStringList({" Počet záznamov: 1", "1 / 1"}));
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Delete);
        QCOMPARE(panels(), QStringList({" Počet záznamov: 0", "0 / 0"}));
    }
};

QTEST_MAIN(Window)
#include "tst_window.moc"
