#include "resource/project/createproject-dialog.h"

#include "resource/project/custom-spinbox.h"
#include "resource/project/icon-text-button.h"
#include "resource/project/project-common.h"
#include "value/interface.h"
#include "values/screen-scale.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QVBoxLayout>

namespace {

const char* const kSizes[] = {"320 x 240",  "480 x 320",   "640 x 480",  "720 x 640",
                              "1280 x 720", "1080 x 1920", "1920 x 1080"};
constexpr int kDefaultWidth = 1920;
constexpr int kDefaultHeight = 1080;
constexpr const char* kProbeName = "ZyTestFile.txt";
constexpr const char* kLaunchArgument = "--launched-by-Korvel";

QString startFolder() {
    const QString home = QDir::homePath();
    const QString stored =
        QString::fromStdString(bg::configText(project::kCreateDefaultPathKey, home.toStdString()));
    if (stored.isEmpty() || !QFileInfo(stored).isDir())
        return home;
    return stored;
}

QPixmap picture(const char* name) {
    return QPixmap(QStringLiteral(":/image/%1.png").arg(QLatin1String(name)));
}

} // namespace

CreateProjectDialog::CreateProjectDialog(CreateCall create, QWidget* parent)
    : QDialog(parent), m_create(std::move(create)) {
    setObjectName(QStringLiteral("CreateProjectDialog"));
    setWindowTitle(tr("newprojectdialog.NewProject"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    project::loadStyleSheet(this, QStringLiteral(":/qss/createproject-dialog.css"));
    buildForm();
    m_folder->setText(startFolder());
    updateSimplifiedEditor();
    const double scale = screenDpiScale();
    resize(int(525 * scale), int(272 * scale));
    QMetaObject::connectSlotsByName(this);
    updateEnabled();
}

void CreateProjectDialog::buildForm() {
    auto* layout = new QVBoxLayout(this);

    auto* fields = new QGridLayout;
    auto* nameLabel = new QLabel(tr("newprojectdialog.ProName"), this);
    nameLabel->setObjectName(QStringLiteral("label_name"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("lineEdit_name"));
    auto* suffix = new QLabel(QLatin1String(project::kProjectSuffix), this);
    suffix->setObjectName(QStringLiteral("label_suffix"));
    auto* folderLabel = new QLabel(tr("newprojectdialog.Path"), this);
    folderLabel->setObjectName(QStringLiteral("label_path"));
    m_folder = new QLineEdit(this);
    m_folder->setObjectName(QStringLiteral("lineEdit_path"));
    m_browse = new QPushButton(tr("newprojectdialog.Explorer"), this);
    m_browse->setObjectName(QStringLiteral("pushButton_browse"));
    m_browse->setAutoDefault(false);
    fields->addWidget(nameLabel, 0, 0);
    fields->addWidget(m_name, 0, 1);
    fields->addWidget(suffix, 0, 2);
    fields->addWidget(folderLabel, 1, 0);
    fields->addWidget(m_folder, 1, 1);
    fields->addWidget(m_browse, 1, 2);
    layout->addLayout(fields);

    m_advance = new IconTextButton(tr("newprojectdialog.Advanced"), this);
    m_advance->setObjectName(QStringLiteral("pushButton_advance"));
    m_advance->setCheckable(true);
    m_advance->setChecked(true);
    m_advance->setAutoDefault(false);
    m_advance->setIconPosition(IconTextButton::IconLeft);
    m_advance->setSpacing(5);
    m_advance->setPixmaps(picture("project-advance-default"), picture("project-advance-hover"),
                          picture("project-advance-checked"), picture("project-advance-disabled"));
    auto* advanceRow = new QHBoxLayout;
    advanceRow->addWidget(m_advance);
    advanceRow->addStretch(1);
    layout->addLayout(advanceRow);

    m_resolution = new QWidget(this);
    m_resolution->setObjectName(QStringLiteral("widget_resolution"));
    auto* sizes = new QGridLayout(m_resolution);
    sizes->setContentsMargins(0, 0, 0, 0);
    m_default = new QRadioButton(tr("newprojectdialog.Default"), m_resolution);
    m_default->setObjectName(QStringLiteral("radioButton_default"));
    m_default->setToolTip(tr("newprojectdialog.DefaultTooltip"));
    m_select = new QRadioButton(tr("newprojectdialog.ChooseSize"), m_resolution);
    m_select->setObjectName(QStringLiteral("radioButton_select"));
    m_custom = new QRadioButton(tr("newprojectdialog.CustomSize"), m_resolution);
    m_custom->setObjectName(QStringLiteral("radioButton_custom"));
    m_resolutionGroup = new QButtonGroup(this);
    m_resolutionGroup->setObjectName(QStringLiteral("buttonGroup_resolution"));
    m_resolutionGroup->setExclusive(true);
    m_resolutionGroup->addButton(m_default, 0);
    m_resolutionGroup->addButton(m_select, 1);
    m_resolutionGroup->addButton(m_custom, 2);
    m_default->setChecked(true);

    m_sizes = new QComboBox(m_resolution);
    m_sizes->setObjectName(QStringLiteral("comboBox_size"));
    m_sizes->setView(new QListView(m_sizes)); // lets the style sheet reach the rows
    for (const char* size : kSizes)
        m_sizes->addItem(QLatin1String(size));

    auto makeSide = [this](const char* name, int maximum, int start) {
        auto* box = new CustomSpinBox(m_resolution);
        box->setObjectName(QLatin1String(name));
        box->setRange(90, maximum);
        box->setSingleStep(2);
        box->setValue(start);
        return box;
    };
    m_width = makeSide("spinBox_width", 2560, kDefaultWidth);
    m_height = makeSide("spinBox_height", 1440, kDefaultHeight);
    auto* widthLabel = new QLabel(tr("newprojectdialog.Width"), m_resolution);
    widthLabel->setObjectName(QStringLiteral("label_width"));
    auto* heightLabel = new QLabel(tr("newprojectdialog.Height"), m_resolution);
    heightLabel->setObjectName(QStringLiteral("label_height"));

    sizes->addWidget(m_default, 0, 0, 1, 5);
    sizes->addWidget(m_select, 1, 0);
    sizes->addWidget(m_sizes, 1, 1, 1, 4);
    sizes->addWidget(m_custom, 2, 0);
    sizes->addWidget(widthLabel, 2, 1);
    sizes->addWidget(m_width, 2, 2);
    sizes->addWidget(heightLabel, 2, 3);
    sizes->addWidget(m_height, 2, 4);
    layout->addWidget(m_resolution);

    auto* singleRow = new QHBoxLayout;
    m_single = new QCheckBox(tr("newprojectdialog.Single"), this);
    m_single->setObjectName(QStringLiteral("checkBox_single"));
    auto* singleHint = new QLabel(tr("newprojectdialog.SingleHint"), this);
    singleHint->setObjectName(QStringLiteral("label_singleHint"));
    singleRow->addWidget(m_single);
    singleRow->addWidget(singleHint);
    singleRow->addStretch(1);
    layout->addLayout(singleRow);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    m_createButton = new QPushButton(tr("newprojectdialog.Create"), this);
    m_createButton->setObjectName(QStringLiteral("pushButton_create"));
    m_createButton->setDefault(true);
    m_cancelButton = new QPushButton(tr("newprojectdialog.Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("pushButton_cancel"));
    m_cancelButton->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(m_createButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);
}

int CreateProjectDialog::run() {
    updateSimplifiedEditor(); // installed or removed since the last time
    m_name->setText(defaultProjectName());
    m_name->selectAll();
    m_name->setFocus();
    return exec();
}

QString CreateProjectDialog::defaultProjectName(const QDateTime& when) {
    return QStringLiteral("zy_") + when.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_') +
           when.toString(QStringLiteral("HHmmss"));
}

QString CreateProjectDialog::simplifiedEditorPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Wixley");
}

bool CreateProjectDialog::simplifiedEditorInstalled() {
    const QFileInfo program(simplifiedEditorPath());
    return program.isFile() && program.isExecutable();
}

void CreateProjectDialog::updateSimplifiedEditor() {
    const bool installed = simplifiedEditorInstalled();
    if (!installed && m_single->isChecked())
        m_single->setChecked(false); // gives the fields back
    m_single->setEnabled(installed);
    m_single->setToolTip(installed ? QString() : tr("newprojectdialog.SingleMissing"));
}

QString CreateProjectDialog::targetPath() const {
    return QDir::cleanPath(m_folder->text().trimmed() + QLatin1Char('/') + m_name->text().trimmed() +
                           QLatin1String(project::kProjectSuffix));
}

void CreateProjectDialog::updateEnabled() {
    const bool fields = !m_single->isChecked();
    m_name->setEnabled(fields);
    m_folder->setEnabled(fields);
    m_browse->setEnabled(fields);
    m_resolution->setEnabled(fields);
    m_sizes->setEnabled(m_select->isChecked());
    m_width->setEnabled(m_custom->isChecked());
    m_height->setEnabled(m_custom->isChecked());
}

void CreateProjectDialog::on_radioButton_select_toggled(bool checked) {
    m_sizes->setEnabled(checked);
}

void CreateProjectDialog::on_radioButton_custom_toggled(bool checked) {
    m_width->setEnabled(checked);
    m_height->setEnabled(checked);
}

void CreateProjectDialog::on_checkBox_single_toggled(bool checked) {
    Q_UNUSED(checked);
    updateEnabled();
}

void CreateProjectDialog::on_pushButton_advance_clicked(bool checked) {
    m_resolution->setVisible(checked);
}

void CreateProjectDialog::on_pushButton_cancel_clicked() {
    reject();
}

void CreateProjectDialog::on_pushButton_browse_clicked() {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, tr("newprojectdialog.ChooseDir"), m_folder->text().trimmed(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return;
    m_folder->setText(QDir::toNativeSeparators(chosen));
    bg::iface()->configSet(project::kCreateDefaultPathKey, chosen.toStdString());
    bg::iface()->configSave();
}

void CreateProjectDialog::hint(const QString& text) {
    project::showMessage(this, tr("newprojectdialog.Hint"), text, tr("newprojectdialog.Ok"));
}

void CreateProjectDialog::launchSimplifiedEditor() {
    const QString program = simplifiedEditorPath();
    if (!QProcess::startDetached(program, {QLatin1String(kLaunchArgument)})) {
        LOGW("the simplified editor %s could not be started", qUtf8Printable(program));
        project::showMessage(nullptr, tr("newprojectdialog.Hint"), tr("newprojectdialog.SingleInvalid"),
                             tr("newprojectdialog.Ok"));
        return;
    }
    LOGD("started the simplified editor %s; this program ends", qUtf8Printable(program));
    QCoreApplication::quit();
}

bool CreateProjectDialog::folderIsWritable(const QString& folder) const {
    const QString probePath = QDir(folder).filePath(QLatin1String(kProbeName));
    const QFileInfo existing(probePath);
    if (!existing.exists() && !existing.isSymLink()) {
        // NewOnly: the probe never opens a file that appeared meanwhile.
        QFile probe(probePath);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            LOGW("write probe %s: %s", qUtf8Printable(probePath), qUtf8Printable(probe.errorString()));
            return false;
        }
        probe.close();
        probe.remove();
        return true;
    }
    // A file of that name is the user's: probe under a name nobody has.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("ZyTestFile-XXXXXX.txt")));
    if (!probe.open()) {
        LOGW("write probe in %s: %s", qUtf8Printable(folder), qUtf8Printable(probe.errorString()));
        return false;
    }
    return true;
}

bool CreateProjectDialog::askOverwrite() {
    QMessageBox box(QMessageBox::Information, tr("newprojectdialog.Hint"),
                    tr("newprojectdialog.AskOverwrite"), QMessageBox::NoButton, this);
    QPushButton* ok = box.addButton(tr("newprojectdialog.Ok"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(tr("newprojectdialog.Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok;
}

void CreateProjectDialog::chosenResolution(int* width, int* height, bool* locked) const {
    *width = kDefaultWidth;
    *height = kDefaultHeight;
    *locked = false;
    if (m_select->isChecked()) {
        static const QRegularExpression size(QStringLiteral("^(\\d+)\\s*x\\s*(\\d+)$"));
        const QRegularExpressionMatch match = size.match(m_sizes->currentText());
        if (match.hasMatch()) {
            *width = match.captured(1).toInt();
            *height = match.captured(2).toInt();
        } else {
            LOGW("resolution \"%s\" is not width x height; %d x %d is used",
                 qUtf8Printable(m_sizes->currentText()), kDefaultWidth, kDefaultHeight);
        }
        *locked = true;
    } else if (m_custom->isChecked()) {
        *width = CustomSpinBox::toEven(m_width->value());
        *height = CustomSpinBox::toEven(m_height->value());
        *locked = true;
    }
}

void CreateProjectDialog::on_pushButton_create_clicked() {
    if (m_single->isEnabled() && m_single->isChecked()) {
        launchSimplifiedEditor();
        return;
    }
    const QString folder = m_folder->text().trimmed();
    const QString name = m_name->text().trimmed();
    if (folder.isEmpty() || !QFileInfo::exists(folder)) {
        hint(tr("newprojectdialog.dirNoneExist"));
        return;
    }
    // A project without a name would be the hidden file ".zya2".
    if (name.isEmpty()) {
        hint(tr("newprojectdialog.NameEmpty"));
        return;
    }
    if (project::hasForbiddenCharacters(name)) {
        hint(tr("newprojectdialog.NameForbidden") + project::forbiddenCharacterList());
        return;
    }
    const QString target = targetPath();
    if (!QFileInfo(folder).isDir()) {
        hint(tr("newprojectdialog.PathNone").arg(QDir::toNativeSeparators(target)));
        reject();
        return;
    }
    // Told here, while the user can still pick another folder, rather than
    // after the open project has been put away.
    if (!folderIsWritable(folder)) {
        hint(tr("newprojectdialog.WriteForbidden").arg(QDir::toNativeSeparators(folder)));
        return;
    }
    if (QFileInfo::exists(target) && !askOverwrite())
        return;
    int width = 0, height = 0;
    bool locked = false;
    chosenResolution(&width, &height, &locked);
    if (!m_create) {
        LOGE("create project: no create call is set; %s not created", qUtf8Printable(target));
        return;
    }
    if (m_create(target, width, height, locked))
        accept();
}
