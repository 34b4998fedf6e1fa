#include "ListDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "RecordTextInput.h"

// --- The records found --------------------------------------------------------------

FoundModel::FoundModel(const vrindel::Catalogue& catalogue, const vrindel::SearchIndex& index, QObject* parent)
    : QAbstractTableModel(parent), catalogue_(catalogue), index_(index) {}

void FoundModel::setFound(std::size_t count) {
    beginResetModel();
    found_ = count;
    endResetModel();
}

int FoundModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(found_);
}

int FoundModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant FoundModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const int j = storageIndex(index.row());
    return fromRecord(index.column() == 0 ? catalogue_.storageName(j) : catalogue_.storageLocation(j));
}

QVariant FoundModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == 0 ? QStringLiteral("Položka") : QStringLiteral("Umiestnenie");
}

// --- Hľadať ------------------------------------------------------------------------------

namespace {

vrindel::SearchIndex::Order listOrder(const vrindel::Catalogue& catalogue) {
    return catalogue.sorted() ? vrindel::SearchIndex::Order::Name : vrindel::SearchIndex::Order::Storage;
}

}  // namespace

FindDialog::FindDialog(const vrindel::Catalogue& catalogue, QWidget* parent)
    : QDialog(parent), catalogue_(catalogue), index_(catalogue, listOrder(catalogue)) {
    setWindowTitle(QStringLiteral("Hľadať"));
    setObjectName(QStringLiteral("FindDialog"));

    auto* label = new QLabel(QStringLiteral("&Hľadať v položkách a umiestneniach:"), this);
    text_ = new QLineEdit(this);
    text_->setAccessibleName(QStringLiteral("Hľadaný text"));
    label->setBuddy(text_);

    model_ = new FoundModel(catalogue, index_, this);
    // A table whose rows are all of one height: nothing is laid out per
    // row, so a million matches cost what ten do.
    results_ = new QTableView(this);
    results_->setAccessibleName(QStringLiteral("Nájdené záznamy"));
    results_->setShowGrid(false);
    results_->setWordWrap(false);
    results_->setCornerButtonEnabled(false);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->setTabKeyNavigation(false);
    results_->verticalHeader()->hide();
    results_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    results_->verticalHeader()->setDefaultSectionSize(results_->fontMetrics().height() + 4);
    results_->horizontalHeader()->setHighlightSections(false);
    results_->horizontalHeader()->setStretchLastSection(true);
    results_->setModel(model_);
    results_->setColumnWidth(0, 230);

    count_ = new QLabel(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(text_);
    layout->addWidget(results_, 1);
    layout->addWidget(count_);
    resize(460, 360);

    connect(text_, &QLineEdit::textChanged, this, [this] { search(); });
    connect(results_, &QAbstractItemView::activated, this, [this](const QModelIndex& index) { choose(index); });
    text_->installEventFilter(this);
    results_->installEventFilter(this);
    search();
}

void FindDialog::search() {
    model_->setFound(index_.matches(text_->text().toStdString()));
    const int found = model_->rowCount();
    if (found > 0)
        results_->setCurrentIndex(model_->index(0, 0));
    count_->setText(found == 0 ? QStringLiteral("Nenašiel sa žiadny záznam.")
                               : QStringLiteral("Nájdené záznamy: %1 z %2").arg(found).arg(catalogue_.storageCount()));
}

void FindDialog::choose(const QModelIndex& index) {
    if (!index.isValid())
        return;
    chosen_ = model_->storageIndex(index.row());
    accept();
}

bool FindDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter takes the highlighted record, from the edit as from the list.
        if (model_->rowCount() == 0)
            QApplication::beep();
        else
            choose(results_->currentIndex().isValid() ? results_->currentIndex() : model_->index(0, 0));
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Typing goes on in the edit while the arrows move in the list.
        if (watched == text_) {
            QApplication::sendEvent(results_, event);
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

// --- Zmeniť umiestnenie --------------------------------------------------------------

RelocateDialog::RelocateDialog(const QString& name, const QString& location, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Zmeniť umiestnenie"));
    setObjectName(QStringLiteral("RelocateDialog"));
    auto* what = new QLabel(QStringLiteral("Položka: %1").arg(name), this);
    what->setTextFormat(Qt::PlainText);
    auto* label = new QLabel(QStringLiteral("&Nové umiestnenie:"), this);
    location_ = new QLineEdit(this);
    location_->setAccessibleName(QStringLiteral("Nové umiestnenie"));
    label->setBuddy(location_);
    applyRecordRules(location_);
    setRecordText(location_, location);
    location_->selectAll();

    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("Zmeniť"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Zrušiť"), QDialogButtonBox::RejectRole);
    ok_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A record has a location: an empty one is not taken, as when adding.
    connect(location_, &QLineEdit::textChanged, this, [this] { ok_->setEnabled(!location_->text().isEmpty()); });
    ok_->setEnabled(!location.isEmpty());

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(what);
    layout->addWidget(label);
    layout->addWidget(location_);
    layout->addWidget(buttons);
    setFixedWidth(300);
}
