// The window's operations at 10,000, 100,000 and 1,000,000 records: a real
// TMainForm on the offscreen platform, driven by the key and mouse events a
// user sends. Every timed step ends with the events it left behind handled
// (layouts, repaints), so that work the views defer is counted too.
//
// The window reads and writes "Zoznam.dat" and "Options.dat" in the current
// directory; each size runs in a folder of its own under bench-data/.
//
// Run with --startup-memory <folder> built|shown|find it starts the window
// there (built offscreen, shown, or shown with the find dialog open), prints
// its peak resident size in kB and exits: the peak-memory rows run it so.
// With VRINDEL_BENCH_10M=1 the peak-memory rows run at 10,000,000 records
// too (the catalogue, 640 MB, is generated on first use).

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTableView>
#include <QLabel>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "BenchData.h"
#include "ListDialogs.h"
#include "store/format/CatalogueFiles.h"
#include "MainUnit.h"
#include "MessageBoxes.h"
#include "ProcessMemory.h"
#include "text/RecordText.h"
#include "TableReporter.h"
#include "ZoznamModel.h"
#include "ZoznamView.h"

namespace fs = std::filesystem;
using benchmark::State;

namespace {

// Any box would mean the run went wrong: it is counted, never shown.
class CountingBoxes : public MessageBoxes {
public:
    void show(Icon, const QString& caption, const QString& text) override {
        ++shown;
        last = caption + QStringLiteral(": ") + text;
    }
    bool ask(Icon icon, const QString& caption, const QString& text, const QString&, const QString&, bool) override {
        show(icon, caption, text);
        return false;
    }
    int shown = 0;
    QString last;
};

// The controls the benchmarks drive, found once per window by the names the
// window gives them.
struct Controls {
    explicit Controls(const TMainForm& form)
        : Zoznam(find<ZoznamView>(form, "Zoznam")),
          NewPolozka(find<QLineEdit>(form, "NewPolozka")),
          NewPoznamka(find<QLineEdit>(form, "NewPoznamka")),
          Polozka(find<QLineEdit>(form, "Polozka")),
          Poznamka(find<QLineEdit>(form, "Poznamka")),
          Write(find<QPushButton>(form, "Write")),
          Zoradit(find<QCheckBox>(form, "Zoradit")) {}
    ZoznamView* Zoznam;
    QLineEdit* NewPolozka;
    QLineEdit* NewPoznamka;
    QLineEdit* Polozka;
    QLineEdit* Poznamka;
    QPushButton* Write;
    QCheckBox* Zoradit;

private:
    template <class Control>
    static Control* find(const TMainForm& form, const char* name) {
        auto* found = form.findChild<Control*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
        if (!found) {
            std::fprintf(stderr, "window_bench: the window has no %s\n", name);
            std::abort();
        }
        return found;
    }
};

fs::path root;   // where the program started; bench-data/ lies below it

fs::path folderFor(long records) {
    return root / "bench-data" / ("window-" + std::to_string(records));
}

// The folder of a size, with the generated catalogue copied in fresh and
// the switches given. The current directory is left there.
void prepareFolder(long records, bool sorted) {
    fs::current_path(root);
    const fs::path generated = fs::absolute(vrindel::bench::catalogueFile(std::size_t(records)));
    const fs::path folder = folderFor(records);
    fs::create_directories(folder);
    fs::copy_file(generated, folder / vrindel::ListFileName, fs::copy_options::overwrite_existing);
    fs::current_path(folder);
    vrindel::FileVar options;
    options.assign(vrindel::OptionsFileName);
    // No stripping of extensions: the benchmarks type back names that end
    // in ".zip" and must get them listed as they were.
    vrindel::saveOptions(options, vrindel::Switches{sorted, true, false});
}

// Until the window is on screen and everything it posted is handled.
void settle(QWidget& window) {
    for (int i = 0; i < 1000 && !(window.windowHandle() && window.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

void handleEvents() {
    QCoreApplication::processEvents();
}

void key(QWidget* target, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(target, k, modifiers);
}

// A character as a keyboard layout delivers it, ASCII or not.
void typeChar(QWidget* target, QChar c) {
    const int k = c.toUpper().unicode();
    QKeyEvent down(QEvent::KeyPress, k, Qt::NoModifier, QString(c));
    QApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, k, Qt::NoModifier, QString(c));
    QApplication::sendEvent(target, &up);
}

void mouse(QWidget* viewport, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

QString text(const vrindel::RecordText& record) {
    return QString::fromStdU16String(vrindel::fromWindows1250(record.view()));
}

// One window per size and mode, kept while the benchmarks of that size and
// mode run; the next one replaces it, so that one catalogue is in memory.
struct Window {
    long records = 0;
    bool sorted = false;
    CountingBoxes boxes;
    std::unique_ptr<TMainForm> form;
};

Window current;

// Before the application goes: a window must not outlive it.
void dropWindow() {
    current.form.reset();
}

Window& window(long records, bool sorted) {
    if (!current.form || current.records != records || current.sorted != sorted) {
        current.form.reset();
        prepareFolder(records, sorted);
        current.records = records;
        current.sorted = sorted;
        current.boxes = CountingBoxes();
        current.form = std::make_unique<TMainForm>(current.boxes);
        current.form->show();
        current.form->activateWindow();
        settle(*current.form);
    }
    fs::current_path(folderFor(records));
    return current;
}

bool failed(State& state, const Window& w) {
    if (w.boxes.shown == 0)
        return false;
    state.SkipWithError(("the window showed a message: " + w.boxes.last.toStdString()).c_str());
    return true;
}

void selectRow(TMainForm& form, int row) {
    Controls(form).Zoznam->setCurrentIndex(form.model().index(row));
    handleEvents();
}

FindDialog* openFind(TMainForm& form);

// --- Start-up --------------------------------------------------------------------

// GNU sort -f (C.UTF-8) on the same names, one a line: the yardstick for start-up.
void sortF(State& state) {
    const std::string names = vrindel::bench::namesFile(std::size_t(state.range(0)));
    for (auto _ : state)
        if (!vrindel::bench::runSortF(names))
            state.SkipWithError("sort -f failed");
}

void startup(State& state, bool sorted) {
    const long records = state.range(0);
    // One window per folder: the kept one would refuse the new one.
    dropWindow();
    for (auto _ : state) {
        state.PauseTiming();
        prepareFolder(records, sorted);
        CountingBoxes boxes;
        state.ResumeTiming();

        auto form = std::make_unique<TMainForm>(boxes);
        form->show();
        settle(*form);
        // Usable: the order the first key would wait for is there too.
        form->catalogue().prepare();

        state.PauseTiming();
        if (boxes.shown || Controls(*form).Polozka->text().isEmpty() || form->catalogue().displayCount() != records)
            state.SkipWithError("the window did not start with the catalogue");
        form.reset();
        state.ResumeTiming();
    }
}

// Until the list's first rows are on the screen: the name order of a large
// catalogue may still be worked out then, and the window waits for it before
// it handles anything the user does.
void firstRows(State& state, bool sorted) {
    const long records = state.range(0);
    dropWindow();
    for (auto _ : state) {
        state.PauseTiming();
        prepareFolder(records, sorted);
        CountingBoxes boxes;
        bool painted = false;
        state.ResumeTiming();

        auto form = std::make_unique<TMainForm>(boxes);
        QObject::connect(Controls(*form).Zoznam, &ZoznamView::firstPainted, [&] { painted = true; });
        form->show();
        for (int i = 0; i < 100000 && !painted; ++i)
            QCoreApplication::processEvents();

        state.PauseTiming();
        settle(*form);
        if (!painted || boxes.shown || form->catalogue().displayCount() != records)
            state.SkipWithError("the window did not show the catalogue's first rows");
        form.reset();
        state.ResumeTiming();
    }
}

// Peak resident size of a fresh process that starts the window sorted, in
// one of three stages: built offscreen, shown, and shown with the find
// dialog open and its index built. Each is set against the same stage of
// an empty catalogue (measured once a run), and what it holds beyond that
// against the file's size.
enum class Stage { Built, Shown, FindOpen };

const char* stageName(Stage stage) {
    return stage == Stage::Built ? "built" : stage == Stage::Shown ? "shown" : "find";
}

long peakKilobytesOf(long records, Stage stage) {
    prepareFolder(records, true);
    const QString command = QStringLiteral("'%1' --startup-memory '%2' %3")
                                .arg(QString::fromStdString(fs::read_symlink("/proc/self/exe").string()),
                                     QString::fromStdString(folderFor(records).string()),
                                     QString::fromLatin1(stageName(stage)));
    return vrindel::bench::reportedPeakKilobytes(command.toStdString());
}

void peakMemory(State& state, Stage stage) {
    const long records = state.range(0);
    dropWindow();
    static std::map<Stage, long> empty;
    if (!empty.count(stage))
        empty[stage] = peakKilobytesOf(0, stage);
    long kb = -1;
    for (auto _ : state)
        kb = peakKilobytesOf(records, stage);
    if (kb <= 0 || empty[stage] <= 0) {
        state.SkipWithError("the window's process failed");
        return;
    }
    const double over = double(kb - empty[stage]) * 1024;
    state.counters["peak_MB"] = double(kb) / 1024;
    state.counters["over_empty_MB"] = over / (1024 * 1024);
    state.counters["x_empty"] = double(kb) / double(empty[stage]);
    state.counters["over_x_file"] = over / double(records * 64);
}

int startupMemory(const char* folder, Stage stage) {
    // As the window's own process does.
    vrindel::giveLargeBlocksBack();
    fs::current_path(folder);
    CountingBoxes boxes;
    TMainForm form(boxes);
    if (stage != Stage::Built) {
        form.show();
        settle(form);
    } else {
        QCoreApplication::processEvents();
    }
    if (stage == Stage::FindOpen) {
        FindDialog* dialog = openFind(form);
        if (!dialog)
            return 1;
        // A letter waits for the records' texts: the index is whole.
        typeChar(dialog->text(), u'a');
        handleEvents();
    }
    if (boxes.shown)
        return 1;
    const long kb = vrindel::bench::peakKilobytes();
    std::printf("%ld\n", kb);
    return kb > 0 ? 0 : 1;
}

// --- Entry of a new record ----------------------------------------------------------

// One keystroke in NewPolozka: alternately the last letter of a listed name
// (the duplicate test finds it) and Backspace (it finds nothing).
void keystroke(State& state, bool sorted) {
    Window& w = window(state.range(0), sorted);
    TMainForm& form = *w.form;
    const Controls ui(form);
    // A name in the middle whose first letters alone are not listed.
    QString name;
    for (int row = form.catalogue().displayCount() / 2; name.isEmpty(); ++row) {
        name = text(form.catalogue().displayAt(row));
        if (form.catalogue().findInDisplay(*vrindel::toWindows1250(name.chopped(1).toStdU16String())) >= 0)
            name.clear();
    }
    ui.NewPoznamka->setText(QStringLiteral("CD 0001"));
    ui.NewPolozka->setFocus();
    ui.NewPolozka->setText(name.chopped(1));
    ui.NewPolozka->end(false);
    handleEvents();
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            key(ui.NewPolozka, Qt::Key_Backspace);
        else
            typeChar(ui.NewPolozka, name.back());
        handleEvents();
        typed = !typed;
    }
    // The full name is listed, so Write goes off; one letter short, on.
    if (ui.NewPolozka->text() != (typed ? name : name.chopped(1)) || ui.Write->isEnabled() == typed)
        state.SkipWithError("the duplicate test did not follow the keystrokes");
    ui.NewPolozka->clear();
    ui.NewPoznamka->clear();
    failed(state, w);
}

// Enter in NewPoznamka with a new name typed: WriteClick through the default
// button. The record is deleted again untimed.
void add(State& state, bool sorted) {
    Window& w = window(state.range(0), sorted);
    TMainForm& form = *w.form;
    const Controls ui(form);
    const int before = form.catalogue().recordCount();
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ui.NewPolozka->setText(QStringLiteral("Nový záznam %1").arg(n++ % 1000));
        ui.NewPoznamka->setText(QStringLiteral("CD 0001"));
        ui.NewPoznamka->setFocus();
        handleEvents();
        state.ResumeTiming();

        key(ui.NewPoznamka, Qt::Key_Return);
        handleEvents();

        state.PauseTiming();
        if (form.catalogue().recordCount() != before + 1) {
            state.SkipWithError("the record was not added");
            break;
        }
        ui.Zoznam->setFocus();
        key(ui.Zoznam, Qt::Key_Delete);
        handleEvents();
        state.ResumeTiming();
    }
    if (form.catalogue().recordCount() != before)
        state.SkipWithError("the added records were not all deleted");
    failed(state, w);
}

// Delete in the list with a record in the middle selected. The record is
// added again untimed (in storage order it returns at the end).
void deleteMiddle(State& state, bool sorted) {
    Window& w = window(state.range(0), sorted);
    TMainForm& form = *w.form;
    const Controls ui(form);
    const int before = form.catalogue().recordCount();
    for (auto _ : state) {
        state.PauseTiming();
        selectRow(form, form.catalogue().displayCount() / 2);
        const QString name = ui.Polozka->text(), location = ui.Poznamka->text();
        ui.Zoznam->setFocus();
        handleEvents();
        state.ResumeTiming();

        key(ui.Zoznam, Qt::Key_Delete);
        handleEvents();

        state.PauseTiming();
        if (form.catalogue().recordCount() != before - 1) {
            state.SkipWithError("the record was not deleted");
            break;
        }
        ui.NewPolozka->setText(name);
        ui.NewPoznamka->setText(location);
        ui.NewPoznamka->setFocus();
        key(ui.NewPoznamka, Qt::Key_Return);
        handleEvents();
        state.ResumeTiming();
    }
    if (form.catalogue().recordCount() != before)
        state.SkipWithError("the deleted records were not all added again");
    failed(state, w);
}

// Shift+Enter in Polozka, sorting on: the record moves between the middle
// and the end of the list and back, one rename (with its re-sort) a step.
void renameSorted(State& state) {
    Window& w = window(state.range(0), true);
    TMainForm& form = *w.form;
    const Controls ui(form);
    selectRow(form, form.catalogue().displayCount() / 2);
    const QString original = ui.Polozka->text();
    const QString moved = QStringLiteral("zzzz premenovaný");
    bool away = false;
    for (auto _ : state) {
        state.PauseTiming();
        const QString& to = away ? original : moved;
        ui.Polozka->setText(to);
        ui.Polozka->setFocus();
        handleEvents();
        state.ResumeTiming();

        key(ui.Polozka, Qt::Key_Return, Qt::ShiftModifier);
        handleEvents();

        state.PauseTiming();
        if (form.catalogue().displayAt(form.catalogue().selection()).str() != *vrindel::toWindows1250(to.toStdU16String())) {
            state.SkipWithError("the rename did not select the renamed record");
            break;
        }
        away = !away;
        state.ResumeTiming();
    }
    if (away) {
        ui.Polozka->setText(original);
        key(ui.Polozka, Qt::Key_Return, Qt::ShiftModifier);
        handleEvents();
    }
    failed(state, w);
}

// A click on Zoradit. Timed in one direction, switched back untimed.
void sortSwitch(State& state, bool turnOn) {
    Window& w = window(state.range(0), true);
    TMainForm& form = *w.form;
    const Controls ui(form);
    selectRow(form, form.catalogue().displayCount() / 3);
    auto click = [&] {
        QTest::mouseClick(ui.Zoradit, Qt::LeftButton);
        handleEvents();
    };
    for (auto _ : state) {
        state.PauseTiming();
        if (ui.Zoradit->isChecked() == turnOn)
            click();
        state.ResumeTiming();

        click();

        state.PauseTiming();
        if (ui.Zoradit->isChecked() != turnOn || form.catalogue().sorted() != turnOn) {
            state.SkipWithError("the check box did not switch the sorting");
            break;
        }
        state.ResumeTiming();
    }
    if (!ui.Zoradit->isChecked())
        click();
    failed(state, w);
}

// A letter typed in the list, extending the search text; after each word
// the search text is taken back letter by letter, untimed.
void typeAhead(State& state, bool sorted) {
    Window& w = window(state.range(0), sorted);
    TMainForm& form = *w.form;
    const Controls ui(form);
    ui.Zoznam->setFocus();
    // Whatever an earlier round left of the search text goes first.
    for (int i = 0; i < 4; ++i)
        key(ui.Zoznam, Qt::Key_Backspace);
    handleEvents();
    const QString words[] = {QStringLiteral("kos"), QStringLiteral("Ša"), QStringLiteral("zx"),
                             QStringLiteral("mar"), QStringLiteral("q"), QStringLiteral("Ťu ")};
    std::size_t word = 0;
    qsizetype letter = 0;
    for (auto _ : state) {
        typeChar(ui.Zoznam, words[word][letter]);
        handleEvents();
        if (++letter == words[word].size()) {
            state.PauseTiming();
            for (; letter > 0; --letter)
                key(ui.Zoznam, Qt::Key_Backspace);
            handleEvents();
            word = (word + 1) % std::size(words);
            state.ResumeTiming();
        }
    }
    failed(state, w);
}

// A pointer move with the left button held, from one row to the next, up
// and down the visible rows.
void dragStep(State& state, bool sorted) {
    Window& w = window(state.range(0), sorted);
    TMainForm& form = *w.form;
    const Controls ui(form);
    selectRow(form, form.catalogue().displayCount() / 2);
    QWidget* viewport = ui.Zoznam->viewport();
    const int top = ui.Zoznam->verticalScrollBar()->value();
    const int rows = std::min(ui.Zoznam->visibleRows(), form.catalogue().displayCount() - top);
    auto centre = [&](int k) { return ui.Zoznam->visualRect(form.model().index(top + k)).center(); };
    mouse(viewport, QEvent::MouseButtonPress, centre(0), Qt::LeftButton, Qt::LeftButton);
    handleEvents();
    int k = 0, step = 1;
    for (auto _ : state) {
        if (k + step < 0 || k + step >= rows)
            step = -step;
        k += step;
        mouse(viewport, QEvent::MouseMove, centre(k), Qt::NoButton, Qt::LeftButton);
        handleEvents();
    }
    mouse(viewport, QEvent::MouseButtonRelease, centre(k), Qt::LeftButton, Qt::NoButton);
    handleEvents();
    if (form.catalogue().selection() != top + k || ui.Polozka->text() != text(form.catalogue().displayAt(top + k)))
        state.SkipWithError("the details did not follow the pointer");
    failed(state, w);
}

// --- Find, undo ------------------------------------------------------------------------

// The find dialog over the whole catalogue, opened by Ctrl+F untimed.
FindDialog* openFind(TMainForm& form) {
    ZoznamView* list = Controls(form).Zoznam;
    list->setFocus();
    key(list, Qt::Key_F, Qt::ControlModifier);
    handleEvents();
    auto* dialog = form.findChild<FindDialog*>();
    if (dialog)
        settle(*dialog);
    return dialog;
}

void closeFind(FindDialog* dialog) {
    key(dialog->text(), Qt::Key_Escape);
    handleEvents();
}

// A keystroke in the find dialog's edit until the results and the count
// line are updated and drawn. `typedBefore` letters of the text are typed
// untimed first: 0 times the first letter (which finds the most), 9 the
// tenth (searched among what the ninth found).
void findKeystroke(State& state, bool sorted, int typedBefore) {
    Window& w = window(state.range(0), sorted);
    TMainForm& form = *w.form;
    // Ten letters of a name from the middle of the list: the tenth finds it.
    QString wanted = text(form.catalogue().displayAt(form.catalogue().displayCount() / 2));
    wanted = wanted.left(10).leftJustified(10, u' ');
    FindDialog* dialog = openFind(form);
    if (!dialog) {
        state.SkipWithError("Ctrl+F opened no dialog");
        return;
    }
    const QString start = typedBefore == 0 ? QStringLiteral("a") : wanted;
    long found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dialog->text()->setText(start.left(typedBefore));
        dialog->text()->end(false);
        handleEvents();
        state.ResumeTiming();

        typeChar(dialog->text(), start[typedBefore]);
        handleEvents();

        state.PauseTiming();
        found = dialog->results()->model()->rowCount();
        state.ResumeTiming();
    }
    state.counters["found"] = double(found);
    if (found == 0 || dialog->count()->text().isEmpty())
        state.SkipWithError("the find found nothing");
    closeFind(dialog);
    failed(state, w);
}

// Ctrl+Z in the list after a Delete in the middle: the record goes back to
// its place in storage order and in the list. The delete is done untimed.
void undoDelete(State& state, bool sorted) {
    Window& w = window(state.range(0), sorted);
    TMainForm& form = *w.form;
    const Controls ui(form);
    const int before = form.catalogue().recordCount();
    for (auto _ : state) {
        state.PauseTiming();
        selectRow(form, form.catalogue().displayCount() / 2 + int(state.iterations() % 100));
        ui.Zoznam->setFocus();
        key(ui.Zoznam, Qt::Key_Delete);
        handleEvents();
        state.ResumeTiming();

        key(ui.Zoznam, Qt::Key_Z, Qt::ControlModifier);
        handleEvents();

        state.PauseTiming();
        if (form.catalogue().recordCount() != before) {
            state.SkipWithError("the delete was not taken back");
            break;
        }
        state.ResumeTiming();
    }
    failed(state, w);
}

// Closing the window: both files written and flushed to the disk. The
// window is shown again untimed.
void closeWindow(State& state) {
    Window& w = window(state.range(0), true);
    TMainForm& form = *w.form;
    for (auto _ : state) {
        form.close();
        handleEvents();

        state.PauseTiming();
        if (form.isVisible()) {
            state.SkipWithError("the window did not close");
            break;
        }
        form.show();
        settle(form);
        state.ResumeTiming();
    }
    if (fs::file_size(vrindel::ListFileName) != std::uintmax_t(state.range(0)) * 64)
        state.SkipWithError("the catalogue was not saved whole");
    failed(state, w);
}

// Fewer rounds of the slow operations at the large sizes, so that the whole
// run stays within minutes.
void registerAll() {
    const long sizes[] = {10000, 100000, 1000000};
    for (long records : sizes) {
        const bool large = records >= 1000000;
        auto reg = [&](const std::string& name, auto fn, int iterations = 0) {
            auto* b = benchmark::RegisterBenchmark(name.c_str(), fn)
                          ->Arg(records)
                          ->Unit(benchmark::kMicrosecond)
                          ->UseRealTime();
            if (iterations > 0)
                b->Iterations(iterations);
            else
                b->MinTime(0.2);
        };
        reg("baseline_sort_f", sortF, large ? 3 : 10);
        reg("window_startup_sorted", [](State& s) { startup(s, true); }, large ? 3 : 10);
        reg("window_startup_unsorted", [](State& s) { startup(s, false); }, large ? 3 : 10);
        reg("window_first_rows_sorted", [](State& s) { firstRows(s, true); }, large ? 3 : 10);
        reg("window_first_rows_unsorted", [](State& s) { firstRows(s, false); }, large ? 3 : 10);
        reg("window_peak_memory_built", [](State& s) { peakMemory(s, Stage::Built); }, 1);
        reg("window_peak_memory", [](State& s) { peakMemory(s, Stage::Shown); }, 1);
        reg("window_peak_memory_find", [](State& s) { peakMemory(s, Stage::FindOpen); }, 1);
        reg("window_keystroke_sorted", [](State& s) { keystroke(s, true); });
        reg("window_add_sorted", [](State& s) { add(s, true); });
        reg("window_delete_sorted", [](State& s) { deleteMiddle(s, true); });
        reg("window_rename_sorted", renameSorted);
        reg("window_type_ahead_sorted", [](State& s) { typeAhead(s, true); });
        reg("window_drag_step_sorted", [](State& s) { dragStep(s, true); });
        reg("window_sort_off", [](State& s) { sortSwitch(s, false); }, large ? 5 : 20);
        reg("window_sort_on", [](State& s) { sortSwitch(s, true); }, large ? 5 : 20);
        reg("window_close", closeWindow, large ? 5 : 20);
        reg("window_keystroke_unsorted", [](State& s) { keystroke(s, false); });
        reg("window_add_unsorted", [](State& s) { add(s, false); });
        reg("window_delete_unsorted", [](State& s) { deleteMiddle(s, false); });
        reg("window_type_ahead_unsorted", [](State& s) { typeAhead(s, false); });
        reg("window_drag_step_unsorted", [](State& s) { dragStep(s, false); });
        reg("window_find_first_letter_sorted", [](State& s) { findKeystroke(s, true, 0); }, large ? 20 : 0);
        reg("window_find_tenth_letter_sorted", [](State& s) { findKeystroke(s, true, 9); }, large ? 20 : 0);
        reg("window_find_first_letter_unsorted", [](State& s) { findKeystroke(s, false, 0); }, large ? 20 : 0);
        reg("window_undo_delete_sorted", [](State& s) { undoDelete(s, true); }, large ? 50 : 0);
        reg("window_undo_delete_unsorted", [](State& s) { undoDelete(s, false); }, large ? 50 : 0);
    }
    if (qEnvironmentVariable("VRINDEL_BENCH_10M") == QStringLiteral("1")) {
        for (const auto& [name, fn] : std::initializer_list<std::pair<const char*, void (*)(State&)>>{
                 {"baseline_sort_f", sortF},
                 {"window_startup_sorted", [](State& s) { startup(s, true); }},
                 {"window_first_rows_sorted", [](State& s) { firstRows(s, true); }}})
            benchmark::RegisterBenchmark(name, fn)
                ->Arg(10000000)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime()
                ->Iterations(1);
        for (Stage stage : {Stage::Built, Stage::Shown, Stage::FindOpen}) {
            const std::string name = stage == Stage::Built   ? "window_peak_memory_built"
                                     : stage == Stage::Shown ? "window_peak_memory"
                                                             : "window_peak_memory_find";
            benchmark::RegisterBenchmark(name.c_str(), [stage](State& s) { peakMemory(s, stage); })
                ->Arg(10000000)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime()
                ->Iterations(1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A runtime folder of our own, so that Qt has nothing to say about it.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const std::string runtime = "/tmp/vrindel-bench-runtime-" + std::to_string(::getuid());
        ::mkdir(runtime.c_str(), 0700);
        qputenv("XDG_RUNTIME_DIR", runtime.c_str());
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    root = fs::current_path();
    if (argc == 4 && std::string(argv[1]) == "--startup-memory") {
        const std::string stage = argv[3];
        return startupMemory(argv[2], stage == "built" ? Stage::Built : stage == "find" ? Stage::FindOpen : Stage::Shown);
    }

    benchmark::Initialize(&argc, argv);
    registerAll();
    vrindel::bench::TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    dropWindow();
    fs::current_path(root);
    return 0;
}
