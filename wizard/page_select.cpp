#include "wizard/page_select.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include "platform/edition.h"
#include "tasks/upgrade_context.h"
#include "ui_page_select.h"
#include "ui_page_select_200.h"
#include "wizard/artwork.h"
#include "wizard/log_text.h"
#include "wizard/select_rules.h"
#include "wizard/wizard_dialogs.h"

namespace {

constexpr int kColumnItem = 0;
constexpr int kColumnFile = 1;
constexpr int kItemWidth = 170;
constexpr int kFileWidth = kEdition200 ? 300 : 100;
constexpr int kRoleItemData = Qt::UserRole;
constexpr int kRolePicture = Qt::UserRole + 1;

const FileRecord* RowRecord(const CUpgradeContext& context, int itemData) {
    const int record = RecordForItem(itemData);
    return record < 0 ? nullptr : &context.files[record];
}

}  // namespace

CPageSelect::CPageSelect() {
    InitWizardResources();
    // Edition 2.0.0's form has no message box and a taller list.
    auto take = [this](auto& form) {
        form.setupUi(this);
        m_list = form.list;
        m_operate = form.labelOperate;
    };
    if constexpr (kEdition200) {
        Ui::PageSelect200 form;
        take(form);
    } else {
        Ui::PageSelect form;
        take(form);
        m_message = form.message;
    }
    // The controls stand where the layout puts them; the page keeps the layout's size.
    setFixedSize(size());
    m_operate->setTextFormat(Qt::PlainText);
    m_popup = new QMenu(QStringLiteral("Pop_List"), this);
    connect(m_popup->addAction(QStringLiteral("Open File")), &QAction::triggered, this,
            [this] { OnOpenFile(); });
    connect(m_popup->addAction(QStringLiteral("Cancel Select")), &QAction::triggered, this,
            [this] { OnCancelSelect(); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        m_list->setCurrentItem(item);
        OnDoubleClick();
    });
    connect(m_list, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { OnRightClick(position); });
}

CPageSelect::~CPageSelect() = default;

bool CPageSelect::OnInitDialog() {
    m_list->setHeaderLabels({QStringLiteral("Item"), QStringLiteral("File")});
    m_list->setColumnWidth(kColumnItem, kItemWidth);
    m_list->setColumnWidth(kColumnFile, kFileWidth);
    m_imageList[0] = LoadRowPicture(0);
    m_imageList[1] = LoadRowPicture(1);
    return true;
}

bool CPageSelect::OnSetActive() {
    CWizardSheet* sheet = GetSheet();
    CUpgradeContext* context = GetContext();
    sheet->EnableButton(ID_WIZBACK, true);
    sheet->EnableButton(ID_WIZNEXT, false);
    sheet->EnableButton(IDCANCEL, true);
    sheet->SetButtonText(ID_WIZBACK, QStringLiteral("< Back"));
    sheet->SetButtonText(ID_WIZNEXT, QStringLiteral("Next >"));
    sheet->SetButtonText(IDCANCEL, QStringLiteral("Exit"));
    m_operate->setText(QStringLiteral("Operate:") + (context->operation == 0
                                                         ? QStringLiteral(" Upgrade")
                                                         : QStringLiteral(" Dump")));
    m_operate->show();
    // Every activation starts from scratch: earlier choices are forgotten.
    context->ResetFileRecords();
    m_chosenPath.clear();
    m_list->clear();
    if constexpr (kEdition201) {
        m_message->setPlainText(DisplayText(DetectFirmwareFamily(g_chunkTable).message));
    }
    for (const SelectRow& row : BuildSelectRows(g_chunkTable, context->operation)) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(kColumnItem, FromProgramText(row.text));
        item->setData(kColumnItem, kRoleItemData, row.itemData);
        SetRow(m_list->topLevelItemCount() - 1, 0, QString());
    }
    return true;
}

int CPageSelect::ItemData(int row) const {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    return item == nullptr ? 0 : item->data(kColumnItem, kRoleItemData).toInt();
}

int CPageSelect::RowPicture(int row) const {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    return item == nullptr ? -1 : item->data(kColumnItem, kRolePicture).toInt();
}

void CPageSelect::SetRow(int row, int picture, const QString& file) {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (item == nullptr)
        return;
    item->setIcon(kColumnItem, m_imageList[picture]);
    item->setData(kColumnItem, kRolePicture, picture);
    item->setText(kColumnFile, file);
    item->setToolTip(kColumnFile, file);
}

int CPageSelect::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return -1;
    const int row = m_list->indexOfTopLevelItem(selected.front());
    return row >= 0 && row < m_list->topLevelItemCount() ? row : -1;
}

int CPageSelect::FirstRowWithFile() const {
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (!m_list->topLevelItem(row)->text(kColumnFile).isEmpty())
            return ItemData(row);
    }
    return 0;
}

bool CPageSelect::SelectFileForRow(int row) {
    if (row < 0 || row >= m_list->topLevelItemCount())
        return false;
    const int itemData = ItemData(row);
    // While a whole-image row shows a file, no other row takes one.
    const int withFile = FirstRowWithFile();
    if (withFile < 0 && itemData != withFile)
        return false;

    CUpgradeContext* context = GetContext();
    const uint32_t chunkId = itemData >= 0 && static_cast<uint32_t>(itemData) < g_chunkTable.count
                                 ? g_chunkTable.entries[itemData].id
                                 : 0;
    std::string extension;
    std::string filter;
    ChooseFileFilter(chunkId, &extension, &filter);
    FileChoice choice;
    choice.save = context->operation == 1;
    choice.defaultSuffix = FromProgramText(extension);
    choice.filters = ToQtFilters(filter);
    const QString path = ChooseFile(window(), choice);
    if (path.isEmpty())
        return false;

    const SelectOutcome outcome =
        SelectFileRules(*context, g_chunkTable, itemData, QFile::encodeName(path).toStdString());
    if (!outcome.message.empty())
        ShowMessageBox(window(), FromProgramText(outcome.message));
    if (outcome.accepted)
        m_chosenPath = path;
    return outcome.accepted;
}

void CPageSelect::ShowRowFile(int row, bool chosen) {
    if (row < 0 || row >= m_list->topLevelItemCount())
        return;
    CUpgradeContext* context = GetContext();
    const int itemData = ItemData(row);
    if (chosen) {
        // A whole-image row takes the place of every other choice.
        if (itemData < 0)
            ClearAllRowFiles(row);
        const FileRecord* record = RowRecord(*context, itemData);
        // The firmware row spreads its file over the chunk records and keeps its own record
        // empty; its File column shows the file that was chosen.
        const QString shown = record != nullptr && !record->path.empty()
                                  ? QFile::decodeName(QByteArray::fromStdString(record->path))
                                  : m_chosenPath;
        SetRow(row, 1, shown);
    } else {
        ClearItemRecord(*context, g_chunkTable, itemData);
        SetRow(row, 0, QString());
    }
    GetSheet()->EnableButton(ID_WIZNEXT, AnyFileChosen(*context, g_chunkTable));
}

void CPageSelect::ClearAllRowFiles(int keepRow) {
    CUpgradeContext* context = GetContext();
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (row == keepRow || m_list->topLevelItem(row)->text(kColumnFile).isEmpty())
            continue;
        ClearItemRecord(*context, g_chunkTable, ItemData(row));
        SetRow(row, 0, QString());
    }
    m_list->viewport()->update();
}

void CPageSelect::OnDoubleClick() {
    const int row = SelectedRow();
    if (row >= 0 && SelectFileForRow(row))
        ShowRowFile(row, true);
}

void CPageSelect::OnRightClick(const QPoint& position) {
    // The menu applies to the row under the pointer; an empty part of the list shows none.
    QTreeWidgetItem* item = m_list->itemAt(position);
    if (item == nullptr) {
        m_list->clearSelection();
        return;
    }
    m_list->setCurrentItem(item);
    if (SelectedRow() < 0)
        return;
    m_popup->popup(m_list->viewport()->mapToGlobal(position));
}

void CPageSelect::OnOpenFile() {
    const int row = SelectedRow();
    if (row >= 0 && SelectFileForRow(row))
        ShowRowFile(row, true);
}

void CPageSelect::OnCancelSelect() {
    const int row = SelectedRow();
    if (row >= 0)
        ShowRowFile(row, false);
}

int CPageSelect::OnWizardNext() {
    CUpgradeContext* context = GetContext();
    if (!AnyFileChosen(*context, g_chunkTable)) {
        ShowMessageBox(this, QString::fromLatin1(kTextSelectFileFirst));
        return -1;
    }
    // Without a task the process page would wait for messages that never come.
    if (StartUpgradeTask() == 0)
        return -1;
    return 0;
}

bool CPageSelect::PreTranslateMessage(WizardMessage& message) {
    return PostCloseOnEscape(message);
}
