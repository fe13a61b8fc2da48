// Page 1: the rows the STB's chunk table offers (edition 2.0.1: one firmware row; edition
// 2.0.0: the whole-image rows and one row per chunk), the file chooser behind a double-click or
// the popup menu, the checks of the chosen file (wizard/select_rules.h) and Next, which starts
// the upgrade or dump task.
#pragma once

#include <QIcon>
#include <QString>

#include "wizard/wizard_framework.h"

class QMenu;
class QTreeWidget;
class QPlainTextEdit;
class QLabel;

class CPageSelect : public CWizardPage {
    Q_OBJECT
  public:
    CPageSelect();
    ~CPageSelect() override;

    bool OnInitDialog() override;
    bool OnSetActive() override;
    int OnWizardNext() override;
    bool PreTranslateMessage(WizardMessage& message) override;

    // The first selected row, or -1.
    int SelectedRow() const;
    // Asks for a file for the row and checks it; true when the row now has a file.
    bool SelectFileForRow(int row);
    // Shows the row as chosen (check mark, its file) or clears it (sheet picture, no file, its
    // record emptied), then enables Next when any record names a file.
    void ShowRowFile(int row, bool chosen);
    // Clears every row that shows a file, but `keepRow`, and their records.
    void ClearAllRowFiles(int keepRow = -1);
    // The item data of the first row that shows a file; 0 when none does.
    int FirstRowWithFile() const;

    // The list's handlers: a double-click, a right-click at a point of the list's viewport, and
    // the popup menu's two commands.
    void OnDoubleClick();
    void OnRightClick(const QPoint& position);
    void OnOpenFile();
    void OnCancelSelect();

    QTreeWidget* List() const { return m_list; }
    QPlainTextEdit* Message() const { return m_message; }  // null in edition 2.0.0
    QLabel* OperateLabel() const { return m_operate; }
    QMenu* PopupMenu() const { return m_popup; }
    // The row's picture: 0 no file, 1 file chosen.
    int RowPicture(int row) const;

  private:
    void SetRow(int row, int picture, const QString& file);
    int ItemData(int row) const;

    QString m_chosenPath;  // the file the last accepted choice named
    QTreeWidget* m_list = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QLabel* m_operate = nullptr;
    QMenu* m_popup = nullptr;
    QIcon m_imageList[2];
};
