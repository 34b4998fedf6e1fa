#include "MainUnit.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionFocusRect>
#include <QValidator>

#include <algorithm>
#include <stdexcept>

#include "Errors.h"
#include "MessageBoxes.h"
#include "RecordText.h"
#include "ZoznamAccessible.h"
#include "ZoznamModel.h"

namespace {

constexpr int ItemHeight = 13;
constexpr qint64 TypeAheadPause = 500;  // milliseconds

QString fromRecord(const vrindel::RecordText& text) {
    return QString::fromStdU16String(vrindel::fromWindows1250(text.view()));
}

// A text of an edit as the file stores it. The edits refuse what cannot be
// stored, so this fails only for a text that reached an edit by other means.
std::string toRecord(const QString& text) {
    std::optional<std::string> bytes = vrindel::toWindows1250(text.toStdU16String());
    if (!bytes)
        throw std::runtime_error("The text cannot be stored: it holds characters outside Windows-1250");
    return *bytes;
}

bool storable(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return vrindel::canStore(c.unicode()); });
}

// A record text holds Windows-1250 characters only: a character the file
// cannot hold is refused as it is typed, and a paste that holds one is
// refused whole. Nothing is replaced behind the user's back; only a letter
// followed by a combining accent is taken as the one accented letter it is.
class RecordTextValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        if (storable(input))
            return Acceptable;
        const QString composed = input.normalized(QString::NormalizationForm_C);
        if (composed != input && storable(composed)) {
            pos = std::min(int(input.left(pos).normalized(QString::NormalizationForm_C).size()),
                           int(composed.size()));
            input = composed;
            return Acceptable;
        }
        return Invalid;
    }
};

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

// "&" marks the accelerator letter; "&&" is a plain "&".
QString withoutAccelerator(const QString& caption) {
    QString out;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&')
                out += u'&';
            else
                continue;
            ++i;
            continue;
        }
        out += caption[i];
    }
    return out;
}

QChar acceleratorOf(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] == u'&') {
            ++i;
            continue;
        }
        return caption[i + 1].toUpper();
    }
    return {};
}

int virtualKey(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vk::Return;
    case Qt::Key_Escape:
        return vk::Escape;
    case Qt::Key_Up:
        return vk::Up;
    case Qt::Key_Down:
        return vk::Down;
    case Qt::Key_Delete:
        return vk::Delete;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    default: {
        // Letters, digits and the space have the same codes in both. Other
        // printable keys differ: Qt's code of "." is the Delete key's
        // virtual-key code, "(" that of Down and "&" that of Up.
        const int key = event->key();
        const bool same = (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) ||
                          key == Qt::Key_Space;
        return same ? key : 0;
    }
    }
}

// Marks the view as being set from the catalogue, so that what the view
// reports meanwhile is not taken for the user's doing.
class Syncing {
public:
    explicit Syncing(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~Syncing() { flag_ = was_; }
    Syncing(const Syncing&) = delete;
    Syncing& operator=(const Syncing&) = delete;

private:
    bool& flag_;
    bool was_;
};

// Brackets a change of the display list for the view, even when the change
// fails half-way.
class ModelReset {
public:
    ModelReset(ZoznamModel& model, bool& syncing) : model_(model), syncing_(syncing) { model_.beginReset(); }
    ~ModelReset() { model_.endReset(); }
    ModelReset(const ModelReset&) = delete;
    ModelReset& operator=(const ModelReset&) = delete;

private:
    ZoznamModel& model_;
    Syncing syncing_;
};

}  // namespace

// --- ZoznamView ----------------------------------------------------------------------

ZoznamView::ZoznamView(TMainForm& form, QWidget* parent) : QAbstractItemView(parent), form_(form) {
    ZoznamAccessible::install();
    verticalScrollBar()->setSingleStep(1);
    // Qt would give the focus on a press of any button before the view sees
    // it; the left button's press takes it in mousePressEvent instead.
    setFocusPolicy(Qt::TabFocus);
}

void ZoznamView::setModel(QAbstractItemModel* model) {
    disconnect(removed_);
    QAbstractItemView::setModel(model);
    if (model)
        removed_ = connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { rowsGone(); });
    updateGeometries();
}

int ZoznamView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ZoznamView::topRow() const {
    return verticalScrollBar()->value();
}

int ZoznamView::visibleRows() const {
    return std::max(1, viewport()->height() / ItemHeight);
}

int ZoznamView::verticalOffset() const {
    return topRow() * ItemHeight;
}

int ZoznamView::rowAt(int y) const {
    if (y < 0)
        return -1;
    const int row = topRow() + y / ItemHeight;
    return row < rowCount() ? row : -1;
}

QRect ZoznamView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.row() >= rowCount())
        return {};
    return {0, (index.row() - topRow()) * ItemHeight, viewport()->width(), ItemHeight};
}

QModelIndex ZoznamView::indexAt(const QPoint& point) const {
    if (point.x() < 0 || point.x() >= viewport()->width())
        return {};
    const int row = rowAt(point.y());
    return row < 0 ? QModelIndex() : model()->index(row, 0, rootIndex());
}

void ZoznamView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid())
        return;
    const int row = index.row(), top = topRow(), page = visibleRows();
    int wanted = top;
    switch (hint) {
    case PositionAtTop:
        wanted = row;
        break;
    case PositionAtBottom:
        wanted = row - page + 1;
        break;
    case PositionAtCenter:
        wanted = row - page / 2;
        break;
    case EnsureVisible:
        if (row < top)
            wanted = row;
        else if (row >= top + page)
            wanted = row - page + 1;
        break;
    }
    verticalScrollBar()->setValue(wanted);
}

void ZoznamView::layoutNow() {
    executeDelayedItemsLayout();
    updateGeometries();
}

void ZoznamView::updateGeometries() {
    // Scrolled by rows: the last position shows the last row at the bottom.
    const int page = visibleRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, rowCount() - page));
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void ZoznamView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    viewport()->update();
}

void ZoznamView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
    if (topLeft == bottomRight) {
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    // A range may be the whole list (after a re-sort): only the part in
    // view is drawn again, found without visiting the rest.
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    const int top = topRow();
    const int first = std::max(topLeft.row(), top), last = std::min(bottomRight.row(), top + visibleRows());
    if (first <= last)
        viewport()->update(QRect(0, (first - top) * ItemHeight, viewport()->width(), (last - first + 1) * ItemHeight));
#if QT_CONFIG(accessibility)
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::DataChanged);
        event.setFirstRow(topLeft.row());
        event.setLastRow(bottomRight.row());
        event.setFirstColumn(0);
        event.setLastColumn(0);
        QAccessible::updateAccessibility(&event);
    }
#endif
}

void ZoznamView::rowsGone() {
    updateGeometries();
    viewport()->update();
}

void ZoznamView::scrollContentsBy(int dx, int dy) {
    // The scroll bars count rows; the viewport moves by pixels.
    QAbstractItemView::scrollContentsBy(dx, dy * ItemHeight);
}

void ZoznamView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel())
        return;
    const QRect r = rect.normalized();
    const QModelIndex first = indexAt(QPoint(r.left(), r.top()));
    const QModelIndex last = indexAt(QPoint(r.left(), r.bottom()));
    if (!first.isValid() || !last.isValid())
        return;
    selectionModel()->select(QItemSelection(first, last), command);
}

QRegion ZoznamView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = topRow(), bottom = top + visibleRows();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.model() != model())
            continue;
        // Only the part in view, however long the range.
        const int first = std::max(range.top(), top), last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += QRect(0, (first - top) * ItemHeight, viewport()->width(), (last - first + 1) * ItemHeight);
    }
    return region;
}

void ZoznamView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette::ColorGroup group = !isEnabled() ? QPalette::Disabled
                                       : isActiveWindow() ? QPalette::Active
                                                          : QPalette::Inactive;
    const QPalette& colours = palette();
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QRect area = event->rect();
    const int top = topRow();
    const int last = std::min(rowCount() - 1, top + std::max(0, area.bottom()) / ItemHeight);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    for (int row = top + std::max(0, area.top()) / ItemHeight; row <= last; ++row) {
        const QModelIndex index = model()->index(row, 0, rootIndex());
        const QRect rect = visualRect(index);
        const bool selected = selectionModel() && selectionModel()->isSelected(index);
        if (selected)
            painter.fillRect(rect, colours.brush(group, QPalette::Highlight));
        painter.setPen(colours.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rect.adjusted(margin, 0, -margin, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         fromRecord(form_.catalogue_.displayAt(row)));
        if (focus && index == current) {
            QStyleOptionFocusRect frame;
            frame.initFrom(this);
            frame.rect = rect;
            frame.backgroundColor = colours.color(group, selected ? QPalette::Highlight : QPalette::Base);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
        }
    }
}

QModelIndex ZoznamView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    // A page is the viewport's height measured from the current row; Home
    // and End go to the first and the last entry, as in a list box; nothing
    // moves sideways.
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());
    const int row = current.row();
    int to = row;
    switch (action) {
    case MoveUp:
        to = std::max(0, row - 1);
        break;
    case MoveDown:
        to = std::min(rows - 1, row + 1);
        break;
    case MovePageUp: {
        const int y = row * ItemHeight - viewport()->height();
        to = y < 0 ? 0 : y / ItemHeight;
        break;
    }
    case MovePageDown:
        to = std::min(rows - 1, (row * ItemHeight + ItemHeight - 1 + viewport()->height()) / ItemHeight);
        break;
    case MoveHome:
        to = 0;
        break;
    case MoveEnd:
        to = rows - 1;
        break;
    default:
        break;
    }
    return model()->index(to, 0, rootIndex());
}

QItemSelectionModel::SelectionFlags ZoznamView::selectionCommand(const QModelIndex& index, const QEvent* event) const {
    // Ctrl with a click or the space bar would take the selection away from
    // the selected entry; in a list box it stays.
    const QItemSelectionModel::SelectionFlags command = QAbstractItemView::selectionCommand(index, event);
    if (command.testFlag(QItemSelectionModel::Deselect))
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    return command;
}

void ZoznamView::keyPressEvent(QKeyEvent* event) {
    if (form_.typeAhead(event)) {
        event->accept();
        return;
    }
    QAbstractItemView::keyPressEvent(event);
}

void ZoznamView::mousePressEvent(QMouseEvent* event) {
    // Only the left button takes the focus and moves the selection, as in
    // a list box (the list is no click-focus widget, see the constructor).
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        QAbstractItemView::mousePressEvent(event);
    } else {
        event->accept();
    }
    const Qt::MouseButton button = event->button();
    form_.run([&] { form_.ZoznamMouseDown(button); });
}

void ZoznamView::mouseMoveEvent(QMouseEvent* event) {
    QAbstractItemView::mouseMoveEvent(event);
    form_.run([&] { form_.ZoznamMouseMove(); });
}

void ZoznamView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        QAbstractItemView::mouseReleaseEvent(event);
    else
        event->accept();
    form_.run([&] { form_.ZoznamMouseUp(); });
}

void ZoznamView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A second click is a press like the first.
    mousePressEvent(event);
}

void ZoznamView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    if (current.isValid() && hasFocus())
        ZoznamAccessible::rowEvent(this, current.row(), QAccessible::Focus);
    if (current.isValid())
        form_.userMovedSelection(current.row());
}

void ZoznamView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    // One row at most is selected.
    if (!selected.isEmpty())
        ZoznamAccessible::rowEvent(this, selected.first().top(), QAccessible::Selection);
}

void ZoznamView::resizeEvent(QResizeEvent* event) {
    QAbstractItemView::resizeEvent(event);
    updateGeometries();
    form_.catalogue_.setVisibleRows(visibleRows());
}

// --- StatusBar ---------------------------------------------------------------------------

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

// --- TMainForm: construction ---------------------------------------------------------

TMainForm::TMainForm(MessageBoxes& boxes, vrindel::FileSystem& fs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      ListFile(fs),
      OptionsFile(fs),
      boxes_(boxes) {
    setWindowTitle(applicationTitle());
    setFixedSize(569, 284);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    buildControls();
    wireSignals();
    QCoreApplication::instance()->installEventFilter(this);

    run([this] { FormCreate(); });
    // Unless a handler put the focus elsewhere, the first control in tab
    // order has it when the window opens.
    if (!focusWidget())
        Zoznam->setFocus(Qt::OtherFocusReason);
}

TMainForm::~TMainForm() {
    QCoreApplication::instance()->removeEventFilter(this);
}

void TMainForm::buildControls() {
    const QFont regular = windowFont();
    QFont bold = regular;
    bold.setBold(true);
    setFont(regular);

    auto edit = [&](int x, int y) {
        auto* e = new QLineEdit(this);
        e->setGeometry(x, y, 257, 21);
        e->setMaxLength(int(vrindel::MaxTextLength));
        e->setValidator(new RecordTextValidator(e));
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
    catalogue_.setVisibleRows((Zoznam->height() - 2 * Zoznam->frameWidth()) / ItemHeight);

    // Left of DelExt stands the "Nová položka:" label, bold, at 303.
    const int labelEnd = 303 + QFontMetrics(bold).horizontalAdvance(QStringLiteral("Nová položka:")) + 8;
    DelExt = checkBox(QStringLiteral("z&mazať \".zip\", \".rar\", \".exe\""), 412, 4, 149, regular,
                      std::min(412, labelEnd));
    NewPolozka = edit(303, 22);
    NewPoznamka = edit(303, 67);
    Write = button(QStringLiteral("Z&apísať"), 456, 96);
    Clear = button(QStringLiteral("&Vyčistiť"), 304, 96);
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

    // What a screen reader says for each control: its visible text, or the
    // text of its label, without the accelerator mark.
    for (QLabel* l : {Label1, NewPolozkaLabel, NewPoznamkaLabel, PolozkaLabel, PoznamkaLabel}) {
        l->setAccessibleName(withoutAccelerator(l->text()));
        l->buddy()->setAccessibleName(withoutAccelerator(l->text()));
    }
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{DelExt, Write, Clear, Zoradit, DelPlaceBox})
        b->setAccessibleName(withoutAccelerator(b->text()));
}

void TMainForm::wireSignals() {
    connect(NewPolozka, &QLineEdit::textChanged, this, [this] { run([this] { NewPolozkaChange(); }); });
    connect(NewPoznamka, &QLineEdit::textChanged, this, [this] { run([this] { NewPolozkaChange(); }); });
    connect(Write, &QPushButton::clicked, this, [this] { run([this] { WriteClick(); }); });
    connect(Clear, &QPushButton::clicked, this, [this] { run([this] { ClearClick(); }); });
    // A check box runs its click handler whenever its state changes, by the
    // mouse, the space bar or an accelerator; a handler's setting goes
    // through setCheck instead.
    connect(Zoradit, &QCheckBox::toggled, this, [this] { run([this] { ZoraditClick(); }); });
    connect(DelExt, &QCheckBox::toggled, this, [this] { run([this] { DelExtClick(); }); });
    connect(Zoznam->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncing_)
            catalogue_.setTopIndex(value);
    });
}

// --- The guard and nesting ----------------------------------------------------------------

bool TMainForm::run(const std::function<void()>& handler) {
    if (depth_ > 0) {
        handler();
        return true;
    }
    QString text;
    bool failed = false;
    ++depth_;
    try {
        handler();
    } catch (const std::exception& e) {
        // vrindel::ListError, vrindel::IoError and whatever else a handler
        // raises: each is shown by its text.
        failed = true;
        text = QString::fromUtf8(e.what());
    }
    --depth_;
    // Shown after the handler has ended, so that an event taken while the
    // box is up starts a handler of its own.
    if (failed)
        boxes_.error(applicationTitle(), withFullStop(text));
    return !failed;
}

void TMainForm::setEditText(QLineEdit* edit, const QString& text) {
    if (edit->text() == text)
        return;
    {
        const QSignalBlocker block(edit);
        edit->setText(text);
    }
    if (edit == NewPolozka || edit == NewPoznamka)
        NewPolozkaChange();
}

void TMainForm::setCheck(QCheckBox* box, bool on) {
    if (box->isChecked() == on)
        return;
    {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    runClickHandler(box);
}

void TMainForm::runClickHandler(QCheckBox* box) {
    if (box == Zoradit)
        ZoraditClick();
    else if (box == DelExt)
        DelExtClick();
}

void TMainForm::setControlEnabled(QWidget* control, bool on) {
    if (control->isEnabled() == on)
        return;
    const bool hadFocus = focusWidget() == control;
    control->setEnabled(on);
    if (!on && hadFocus)
        setFocus(Qt::OtherFocusReason);
}

void TMainForm::focusControl(QWidget* control) {
    if (!control->isEnabled())
        throw std::runtime_error("Cannot focus a disabled or invisible window");
    // The control becomes the window's active control even while the window
    // is hidden; the focusing itself fails then. An edit that has the focus
    // already keeps its caret and selection.
    const bool had = focusWidget() == control;
    control->setFocus(Qt::ShortcutFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control); edit && !had)
        edit->selectAll();
    if (!isVisible())
        throw std::runtime_error("Cannot focus a disabled or invisible window");
}

// --- Keyboard ------------------------------------------------------------------------------

QWidget* TMainForm::keyTarget() {
    QWidget* focused = focusWidget();
    return focused ? focused : this;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::FocusIn)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;

    if (type == QEvent::FocusIn) {
        // An edit that gets the focus from the keyboard or from a handler
        // selects its whole text; a click places the caret.
        auto* edit = qobject_cast<QLineEdit*>(widget);
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (edit && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                     reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason))
            edit->selectAll();
        return false;
    }

    if (widget != keyTarget())
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Every key of this window reaches it as a key press: Qt's own
        // mnemonics (delayed clicks, focus cycling between widgets that share
        // a letter) never fire here; the window dispatches its accelerators.
        event->accept();
        return true;
    }
    return routeKey(static_cast<QKeyEvent*>(event));
}

bool TMainForm::routeKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    const bool plain = modifiers == Qt::NoModifier;
    QWidget* target = keyTarget();
    bool taken = false;

    const bool ok = run([&] {
        // Enter and Escape are offered to the push buttons first.
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && plain) {
            if (target == Write || target == Clear) {
                taken = true;
                target == Write ? WriteClick() : ClearClick();
                return;
            }
            if (Write->isEnabled()) {
                taken = true;
                WriteClick();
                return;
            }
        }
        if (key == Qt::Key_Escape && plain && Clear->isEnabled()) {
            taken = true;
            ClearClick();
            return;
        }

        // Accelerators: Alt with the letter wherever the focus is, the letter
        // alone while a push button or a check box has the focus.
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            const Qt::KeyboardModifiers withoutShift = modifiers & ~Qt::ShiftModifier;
            const bool alt = withoutShift == Qt::AltModifier;
            const bool bare = withoutShift == Qt::NoModifier && qobject_cast<QAbstractButton*>(target);
            if ((alt || bare) && accelerator(key)) {
                taken = true;
                return;
            }
        }

        // Everything else reaches the focused control's key-down handler,
        // before the control handles the key itself.
        const int code = virtualKey(event);
        if (target == Zoznam)
            ZoznamKeyDown(code);
        else if (target == NewPolozka)
            NewPolozkaKeyDown(code);
        else if (target == Polozka)
            PolozkaKeyDown(code);
    });
    // An error ends the key's handling too.
    return taken || !ok;
}

bool TMainForm::accelerator(int key) {
    const QChar letter(key);
    // Labels are asked first: "&Umiestnenie:" wins the U.
    for (QLabel* l : {Label1, NewPolozkaLabel, NewPoznamkaLabel, PolozkaLabel, PoznamkaLabel}) {
        QWidget* control = l->buddy();
        if (acceleratorOf(l->text()) == letter && control && control->isEnabled()) {
            focusControl(control);
            return true;
        }
    }
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{DelExt, Write, Clear, Zoradit, DelPlaceBox}) {
        if (acceleratorOf(b->text()) != letter || !b->isEnabled())
            continue;
        if (auto* box = qobject_cast<QCheckBox*>(b)) {
            focusControl(box);
            setCheck(box, !box->isChecked());
        } else if (b == Write) {
            WriteClick();
        } else {
            ClearClick();
        }
        return true;
    }
    return false;
}

bool TMainForm::typeAhead(QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const bool backspace = event->key() == Qt::Key_Backspace;
    const QString text = event->text();
    if (!backspace && (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); })))
        return false;

    run([&] {
        if (!lastTyped_.isValid() || lastTyped_.elapsed() >= TypeAheadPause)
            typed_.clear();
        lastTyped_.start();
        if (backspace) {
            if (typed_.isEmpty())
                return;
            typed_.chop(1);
            if (typed_.isEmpty()) {
                selectByUser(0);
                return;
            }
        } else {
            typed_ += text;
        }
        const std::optional<std::string> prefix = vrindel::toWindows1250(typed_.toStdU16String());
        if (prefix)
            selectByUser(catalogue_.findPrefixInDisplay(*prefix));
    });
    return true;
}

// --- The display list and the view -------------------------------------------------------

void TMainForm::showSelection() {
    const Syncing syncing(syncing_);
    Zoznam->layoutNow();
    const int row = catalogue_.selection();
    QItemSelectionModel* selection = Zoznam->selectionModel();
    if (row >= 0 && row < model_->rowCount()) {
        selection->setCurrentIndex(model_->index(row), QItemSelectionModel::ClearAndSelect);
    } else {
        selection->clearSelection();
        selection->clearCurrentIndex();
    }
    QScrollBar* bar = Zoznam->verticalScrollBar();
    bar->setValue(catalogue_.topIndex());
    // The view cannot scroll past its last page; the catalogue learns where
    // it stopped.
    if (Zoznam->isVisible())
        catalogue_.setTopIndex(bar->value());
}

void TMainForm::rememberTopIndex() {
    if (Zoznam->isVisible())
        catalogue_.setTopIndex(Zoznam->verticalScrollBar()->value());
}

void TMainForm::userMovedSelection(int row) {
    if (syncing_)
        return;
    run([&] {
        catalogue_.setSelection(row);
        rememberTopIndex();
        {
            const Syncing syncing(syncing_);
            Zoznam->selectionModel()->select(model_->index(row), QItemSelectionModel::ClearAndSelect);
        }
        ShowInfo();
    });
}

void TMainForm::selectByUser(int row) {
    if (row < 0 || row >= catalogue_.displayCount() || row == catalogue_.selection())
        return;
    catalogue_.setSelection(row);
    showSelection();
    ShowInfo();
}

void TMainForm::setStatusCount() {
    Status->setPanelText(0, QStringLiteral(" Počet záznamov: %1").arg(catalogue_.recordCount()));
}

void TMainForm::setStatusPosition() {
    if (catalogue_.displayCount() == 0)
        Status->setPanelText(1, QStringLiteral("0 / 0"));
    else
        setStatusSelection();
}

void TMainForm::setStatusSelection() {
    Status->setPanelText(1, QStringLiteral("%1 / %2").arg(catalogue_.selection() + 1).arg(catalogue_.recordCount()));
}

// --- File messages ------------------------------------------------------------------------

void TMainForm::listFileMissing() {
    boxes_.warning(QString::fromUtf8(vrindel::FileMessageCaption), QString::fromUtf8(vrindel::ListMissingText));
}

void TMainForm::listFileDamaged() {
    boxes_.error(QString::fromUtf8(vrindel::FileMessageCaption), QString::fromUtf8(vrindel::ListDamagedText));
}

// --- Start-up and close ---------------------------------------------------------------------

void TMainForm::FormCreate() {
    setControlEnabled(Write, false);
    setControlEnabled(Clear, false);
    {
        const ModelReset reset(*model_, syncing_);
        catalogue_.clear();
    }
    showSelection();
    ListFile.assign(vrindel::ListFileName);
    OptionsFile.assign(vrindel::OptionsFileName);

    // Until the catalogue has been read, a close must not write over it.
    listUnread_ = true;
    vrindel::ensureCatalogueFile(ListFile, *this);
    vrindel::ensureOptionsFile(OptionsFile);
    vrindel::readOptions(OptionsFile, [this](vrindel::Switch which, bool on) {
        switch (which) {
        case vrindel::Switch::Zoradit:
            setCheck(Zoradit, on);
            break;
        case vrindel::Switch::DelPlaceBox:
            setCheck(DelPlaceBox, on);
            break;
        case vrindel::Switch::DelExt:
            setCheck(DelExt, on);
            break;
        }
    });
    ZoraditClick();
    catalogue_.setRecordCount(0);
    {
        const ModelReset reset(*model_, syncing_);
        // A catalogue read only in part is kept on disk like one that could
        // not be opened: writing the part back would lose the rest.
        listUnread_ = !vrindel::readCatalogue(ListFile, catalogue_, *this);
    }
    catalogue_.setSelection(0);
    showSelection();
    ShowInfo();
    DragSelecting = false;
    setStatusCount();
    setStatusPosition();
}

vrindel::Switches TMainForm::switches() const {
    return {Zoradit->isChecked(), DelPlaceBox->isChecked(), DelExt->isChecked()};
}

void TMainForm::FormClose() {
    // A catalogue that exists but could not be read at start-up is left as
    // it is: the empty list shown instead is not the catalogue.
    if (!(listUnread_ && ListFile.exists()))
        vrindel::saveCatalogue(ListFile, catalogue_);
    vrindel::saveOptions(OptionsFile, switches());
}

void TMainForm::saveFiles() {
    // Each file on its own: a failure of one must not cost the other.
    try {
        if (!(listUnread_ && ListFile.exists()))
            vrindel::saveCatalogue(ListFile, catalogue_);
    } catch (const std::exception&) {
    }
    try {
        vrindel::saveOptions(OptionsFile, switches());
    } catch (const std::exception&) {
    }
}

void TMainForm::SessionEnding() {
    if (ending_)
        return;
    ending_ = true;
    saveFiles();
    close();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
        return;
    }
    // A close whose save fails keeps the window open; the next one starts
    // again from the first step.
    if (run([this] { FormClose(); }))
        event->accept();
    else
        event->ignore();
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        const QSize outer = frameGeometry().size();
        move(area.x() + std::max(0, (area.width() - outer.width()) / 2),
             area.y() + std::max(0, (area.height() - outer.height()) / 2));
    }
}

// --- Browsing --------------------------------------------------------------------------------

void TMainForm::ShowInfo() {
    if (catalogue_.displayCount() == 0) {
        setEditText(Polozka, QString());
        setEditText(Poznamka, QString());
        Status->setPanelText(1, QStringLiteral("0 / 0"));
        return;
    }
    const int i = catalogue_.selection();
    setEditText(Polozka, fromRecord(catalogue_.displayAt(i)));
    setEditText(Poznamka, fromRecord(catalogue_.locationOfDisplay(i)));
    setStatusSelection();
}

void TMainForm::ZoznamKeyDown(int key) {
    if (key == vk::Up || key == vk::Down) {
        // The list moves its selection after this, which shows the details
        // once more, of the record then selected.
        ShowInfo();
        return;
    }
    if (key != vk::Delete || catalogue_.displayCount() == 0)
        return;

    int i = catalogue_.selection();
    // Everything that can fail is checked before the view hears of a
    // removal.
    const int j = catalogue_.findInStorage(catalogue_.displayAt(i).view());
    if (j < 0)
        throw vrindel::ListError::outOfBounds(j);
    {
        const Syncing syncing(syncing_);
        model_->beginRemove(i);
        catalogue_.deleteAtDisplay(i);
        model_->endRemove();
    }
    setStatusCount();
    if (i == catalogue_.displayCount())
        i -= 1;
    catalogue_.setSelection(i);
    showSelection();
    ShowInfo();
}

void TMainForm::ZoznamMouseDown(Qt::MouseButton button) {
    if (button != Qt::LeftButton)
        return;
    DragSelecting = true;
    ShowInfo();
}

void TMainForm::ZoznamMouseMove() {
    if (DragSelecting)
        ShowInfo();
}

void TMainForm::ZoznamMouseUp() {
    DragSelecting = false;
}

// --- Adding ----------------------------------------------------------------------------------

void TMainForm::NewPolozkaChange() {
    if (DelExt->isChecked()) {
        const QString text = NewPolozka->text();
        const qsizetype n = text.size();
        // With fewer than four characters the "last four" are the whole
        // text, which matches none of the three.
        const QString last = n < 4 ? text : text.right(4);
        if (last.toLower() == u".zip" || last == u".rar" || last == u".exe") {
            // Runs this handler again at once, which strips what the shorter
            // text now ends in (a.zip.rar becomes a).
            setEditText(NewPolozka, text.left(n - 4));
            NewPolozka->setCursorPosition(int(NewPolozka->text().size()));
            NewPolozka->deselect();
        }
    }
    const bool name = !NewPolozka->text().isEmpty();
    const bool location = !NewPoznamka->text().isEmpty();
    setControlEnabled(Clear, name || location);
    setControlEnabled(Write, name && location && catalogue_.findInDisplay(toRecord(NewPolozka->text())) < 0);
}

void TMainForm::NewPolozkaKeyDown(int key) {
    if (key == vk::Return && !NewPolozka->text().isEmpty())
        focusControl(NewPoznamka);
}

void TMainForm::ClearClick() {
    setEditText(NewPolozka, QString());
    setEditText(NewPoznamka, QString());
    setControlEnabled(Clear, false);
}

void TMainForm::WriteClick() {
    const std::string name = toRecord(NewPolozka->text());
    const std::string location = toRecord(NewPoznamka->text());
    {
        const Syncing syncing(syncing_);
        model_->beginInsert(catalogue_.insertPosition(name));
        catalogue_.add(name, location);
        model_->endInsert();
    }
    showSelection();
    ShowInfo();
    setStatusCount();
    setStatusPosition();
    setEditText(NewPolozka, QString());
    if (DelPlaceBox->isChecked())
        setEditText(NewPoznamka, QString());
    NewPolozkaChange();
    focusControl(NewPolozka);
}

void TMainForm::DelExtClick() {
    focusControl(NewPolozka);
}

// --- Sorted view -----------------------------------------------------------------------------

void TMainForm::ZoraditClick() {
    const bool on = Zoradit->isChecked();
    {
        const ModelReset reset(*model_, syncing_);
        if (catalogue_.displayCount() > 0) {
            if (on) {
                // In storage order the display index is the storage index.
                catalogue_.setBookmark(catalogue_.selection());
                catalogue_.setSorted(true);
                catalogue_.setSelection(catalogue_.findInDisplay(catalogue_.storageName(catalogue_.bookmark()).view()));
            } else {
                catalogue_.setBookmark(catalogue_.findInStorage(catalogue_.displayAt(catalogue_.selection()).view()));
                catalogue_.setSorted(false);
                catalogue_.showStorageOrder();
                catalogue_.setSelection(catalogue_.findInDisplay(catalogue_.storageName(catalogue_.bookmark()).view()));
            }
        }
        catalogue_.setSorted(on);
    }
    showSelection();
    setStatusSelection();
}

// --- Deleting and renaming ---------------------------------------------------------------------

void TMainForm::PolozkaKeyDown(int key) {
    if (key != vk::Return)
        return;
    const QString text = Polozka->text();
    if (text.isEmpty())
        return;
    const std::string name = toRecord(text);
    if (catalogue_.findInDisplay(name) >= 0)
        return;
    const int i = catalogue_.selection();
    if (i < 0)
        return;

    // The record keeps its location: the one Poznamka shows, which cannot
    // be edited.
    catalogue_.renameAtDisplay(i, name);
    model_->rowsChanged(i, i);
    catalogue_.setSelection(catalogue_.findInDisplay(name));
    showSelection();
    ShowInfo();
    if (Zoradit->isChecked()) {
        catalogue_.resortAfterRename();
        model_->rowsChanged(0, catalogue_.displayCount() - 1);
        showSelection();
    }
    setStatusSelection();
}
