#include "app/windows/DossierAssignment.h"

#include "app/model/AppModel.h"
#include "app/records/Dossiers.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

const QString DossierAssignment::kTitle = QStringLiteral("Classer dans un dossier");
const QString DossierAssignment::kPlaceholder = QStringLiteral("Ex. SCI Lilas · logement 4 · fuite");
const QString DossierAssignment::kExistingTitle = QStringLiteral("Dossiers existants");
const QString DossierAssignment::kSaveTitle = QStringLiteral("Enregistrer");
const QString DossierAssignment::kHelp =
    QStringLiteral("Utilisez le même nom pour réunir plusieurs appels. Un nom vide retire l’appel du "
                   "dossier sans le supprimer.");

DossierAssignment::DossierAssignment(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("dossierAssignment"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    titleRow->addWidget(Theme::symbol(QStringLiteral("folder"), 18));
    titleRow->addWidget(Theme::sectionTitle(kTitle), 1);
    layout->addLayout(titleRow);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    m_nameField = new QLineEdit(this);
    m_nameField->setObjectName(QStringLiteral("dossierName"));
    m_nameField->setPlaceholderText(kPlaceholder);
    m_nameField->setClearButtonEnabled(true);
    row->addWidget(m_nameField, 1);

    m_existingButton = Theme::secondaryButton(kExistingTitle, this);
    m_existingButton->setObjectName(QStringLiteral("existingDossiers"));
    // Room for the menu arrow, which the button style otherwise draws over the text's corner.
    m_existingButton->setStyleSheet(QStringLiteral(
        "QPushButton { padding-right: 26px; } QPushButton::menu-indicator { subcontrol-origin: padding; "
        "subcontrol-position: right center; right: 8px; }"));
    m_existingMenu = new QMenu(m_existingButton);
    m_existingButton->setMenu(m_existingMenu);
    row->addWidget(m_existingButton);

    m_saveButton = Theme::primaryButton(kSaveTitle, this);
    m_saveButton->setObjectName(QStringLiteral("saveDossier"));
    row->addWidget(m_saveButton);
    layout->addLayout(row);

    layout->addWidget(Theme::caption(kHelp, this));

    connect(m_nameField, &QLineEdit::textChanged, this, &DossierAssignment::updateEnabled);
    connect(m_nameField, &QLineEdit::returnPressed, this, [this] {
        if (m_saveButton->isEnabled())
            save();
    });
    connect(m_saveButton, &QPushButton::clicked, this, &DossierAssignment::save);
    // Choosing an existing name only fills the field; saving stays the manager's decision.
    connect(m_existingMenu, &QMenu::triggered, this,
            [this](QAction* action) { setName(action->data().toString()); });
    updateEnabled();
}

void DossierAssignment::setRecord(const CallRecord& record, const QStringList& existing)
{
    const bool resync = !m_record || m_record->id != record.id || m_record->dossier != record.dossier;
    m_record = record;
    if (resync)
        setName(Dossiers::assignmentName(record));

    if (existing != m_existing) {
        m_existing = existing;
        m_existingMenu->clear();
        for (const QString& name : existing) {
            // A name with "&" must not turn into a keyboard accelerator.
            QAction* action =
                m_existingMenu->addAction(QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
            action->setData(name);
        }
    }
    m_existingButton->setVisible(!existing.isEmpty());
    updateEnabled();
}

QString DossierAssignment::name() const
{
    return m_nameField->text();
}

void DossierAssignment::setName(const QString& name)
{
    if (m_nameField->text() != name)
        m_nameField->setText(name);
    updateEnabled();
}

void DossierAssignment::updateEnabled()
{
    m_saveButton->setEnabled(m_record && Dossiers::canSaveAssignment(m_nameField->text(), *m_record));
}

void DossierAssignment::save()
{
    if (!m_record || !Dossiers::canSaveAssignment(m_nameField->text(), *m_record))
        return;
    m_model.updateDossier(m_record->id, m_nameField->text());
}
