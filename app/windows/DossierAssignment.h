#pragma once

#include "app/records/CallRecord.h"

#include <QWidget>

class AppModel;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

// "Classer dans un dossier": files one call under a dossier name. The name follows the record (when
// another call is shown or its dossier changes elsewhere); otherwise it is what the manager types.
class DossierAssignment : public QWidget {
    Q_OBJECT
public:
    static const QString kTitle;
    static const QString kPlaceholder;
    static const QString kExistingTitle;
    static const QString kSaveTitle;
    static const QString kHelp;

    explicit DossierAssignment(AppModel& model, QWidget* parent = nullptr);

    // The record shown (a copy) and the dossier names already in use, for the menu.
    void setRecord(const CallRecord& record, const QStringList& existing);

    // The panel was hidden: the next record shown sets the name afresh.
    void forgetRecord() { m_record.reset(); }

    // The `DossierNameDraft`: the name being edited.
    QString name() const;
    void setName(const QString& name);

    QLineEdit* nameField() const { return m_nameField; }
    QPushButton* existingButton() const { return m_existingButton; }
    QPushButton* saveButton() const { return m_saveButton; }

private:
    void updateEnabled();
    void save();

    AppModel& m_model;
    std::optional<CallRecord> m_record;
    QStringList m_existing;
    QLineEdit* m_nameField;
    QPushButton* m_existingButton;
    QMenu* m_existingMenu;
    QPushButton* m_saveButton;
};
