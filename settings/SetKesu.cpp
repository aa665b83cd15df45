#include "settings/SetKesu.h"

#include "settings/CodeGrid.h"
#include "settings/DBNavigator.h"
#include "settings/LayoutPreview.h"
#include "settings/core/CodeTables.h"
#include "ui/Application.h"
#include "ui/FormSetup.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTabWidget>

#include <algorithm>

namespace {

constexpr int kClientWidth = 418;
constexpr int kClientHeight = 322;

enum Page { PathPage = 0, OptionsPage = 1, PlacementPage = 2, TestPage = 3 };

QCheckBox* makeCheck(QWidget* parent, const char* name, const char* caption, int top,
                     bool checked) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(name);
    box->setGeometry(12, top, 200, 17);
    box->setChecked(checked);
    return box;
}

// The dialog's buttons never press themselves on Enter; OK is its default.
QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, QRect place) {
    QPushButton* button = ui::makeButton(parent, name, caption, place);
    button->setAutoDefault(false);
    return button;
}

QComboBox* makeChooser(QWidget* parent, const char* name) {
    auto* chooser = new QComboBox(parent);
    chooser->setObjectName(name);
    // A list to choose from; typed text that names no entry selects none.
    chooser->setEditable(true);
    chooser->setInsertPolicy(QComboBox::NoInsert);
    chooser->setGeometry(8, 8, 173, 21);
    chooser->setAccessibleName("Testing period");
    // A period chosen from the list shows from its number on.
    QObject::connect(chooser, &QComboBox::activated, chooser,
                     [chooser] { chooser->lineEdit()->setCursorPosition(0); });
    return chooser;
}

} // namespace

TSetPathtoORVAForm::TSetPathtoORVAForm(QWidget* owner, ProgramState& program)
    : QDialog(owner), program_(program), dataDir_(program.DataDir) {
    createControls();
    ui::guarded(this, [this] { FormCreate(); });
}

TSetPathtoORVAForm::~TSetPathtoORVAForm() {
    ui::guarded(nullptr, [this] { FormDestroy(); });
    wwDBGrid1->setTable(nullptr, dataDir_, nullptr);
    wwDBGrid2->setTable(nullptr, dataDir_, nullptr);
    wwDBNavigator1->setDataSource(nullptr);
}

void TSetPathtoORVAForm::createControls() {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    ui::setUpFixedWindow(this, "SetPathtoORVAForm", "Set Path to ORVA", kClientWidth,
                         kClientHeight);

    OvcNotebook1 = new QTabWidget(this);
    OvcNotebook1->setObjectName("OvcNotebook1");
    OvcNotebook1->setGeometry(0, 0, 418, 281);
    OvcNotebook1->setTabPosition(QTabWidget::North);
    OvcNotebook1->setAccessibleName("Settings pages");

    // Page 1: the data directory.
    PagePath = new QWidget;
    PagePath->setObjectName("PagePath");
    GroupBox1 = new QGroupBox("Path to ORVA", PagePath);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(8, 8, 396, 84);
    Edit2 = new QLineEdit(GroupBox1);
    Edit2->setObjectName("Edit2");
    Edit2->setGeometry(12, 42, 321, 21);
    Label1 = ui::makeLabel(GroupBox1, "Label1", "&Directory:", 12, 24);
    Label1->setBuddy(Edit2);
    Button2 = makeButton(GroupBox1, "Button2", "B&rowse", QRect(338, 40, 52, 25));
    OvcNotebook1->addTab(PagePath, "Path to ORVA");

    // Page 2: layout, record kinds and optional fields.
    PageOptions = new QWidget;
    PageOptions->setObjectName("PageOptions");
    rgFileFormat = new ui::RadioGroup(
        "&File Type", {"Fixed Format", "Pipe Delimited", "Comma Delimited", "Tab Delimited"},
        PageOptions);
    rgFileFormat->setObjectName("rgFileFormat");
    rgFileFormat->setGeometry(8, 8, 161, 105);
    rgFileFormat->setItemIndex(0);
    GroupBox2 = new QGroupBox("&Record Inclusion", PageOptions);
    GroupBox2->setObjectName("GroupBox2");
    GroupBox2->setGeometry(180, 8, 224, 84);
    chkPlacement = makeCheck(GroupBox2, "chkPlacement", "Placement Records", 20, true);
    chkAssessment = makeCheck(GroupBox2, "chkAssessment", "Assessment Records", 40, true);
    chkScores = makeCheck(GroupBox2, "chkScores", "Score Records", 60, true);
    GroupBox3 = new QGroupBox("&Additional Field Inclusion", PageOptions);
    GroupBox3->setObjectName("GroupBox3");
    GroupBox3->setGeometry(180, 100, 224, 104);
    chkAttempt = makeCheck(GroupBox3, "chkAttempt", "Attempted", 20, false);
    chkSubscores = makeCheck(GroupBox3, "chkSubscores", "Subscores", 40, false);
    chkPandA = makeCheck(GroupBox3, "chkPandA", "Purpose and Accommodation", 60, false);
    chkSiteCode = makeCheck(GroupBox3, "chkSiteCode", "Site Code", 80, false);
    btnPrint = makeButton(PageOptions, "btnPrint", "Print &File Format", QRect(8, 124, 161, 25));
    OvcNotebook1->addTab(PageOptions, "Options");

    // Pages 3 and 4: the code tables.
    const std::vector<CodeGridColumn> placementColumns = {
        {"CODE", 9, "VIRN Code", false, true},
        {"INCLUDE", 5, "Include", true, false},
        {"NEWCODE", 9, "New Code", false, false},
        {"MESSAGE", 43, "Placement Message", false, false},
    };
    std::vector<CodeGridColumn> testColumns = placementColumns;
    testColumns[3] = {"TEST", 22, "Test/Score Name", false, false};

    PagePlacement = new QWidget;
    PagePlacement->setObjectName("PagePlacement");
    ComboBox1 = makeChooser(PagePlacement, "ComboBox1");
    btnBuildP = makeButton(PagePlacement, "btnBuildP", "&Build", QRect(190, 6, 75, 25));
    wwDBGrid1 = new CodeGrid(placementColumns, CodeTableKind::Placement, PagePlacement);
    wwDBGrid1->setObjectName("wwDBGrid1");
    wwDBGrid1->setGeometry(0, 36, 412, 219);
    wwDBGrid1->setAccessibleName("Placement Codes");
    OvcNotebook1->addTab(PagePlacement, "Placement Codes");

    PageTest = new QWidget;
    PageTest->setObjectName("PageTest");
    ComboBox2 = makeChooser(PageTest, "ComboBox2");
    btnBuildT = makeButton(PageTest, "btnBuildT", "&Build", QRect(190, 6, 75, 25));
    wwDBGrid2 = new CodeGrid(testColumns, CodeTableKind::TestScore, PageTest);
    wwDBGrid2->setObjectName("wwDBGrid2");
    wwDBGrid2->setGeometry(0, 36, 412, 219);
    wwDBGrid2->setAccessibleName("Test/Score Codes");
    OvcNotebook1->addTab(PageTest, "&Test/Score Codes");

    wwDBGrid1->setTable(&AdsTable1, dataDir_, &operator_);
    wwDBGrid2->setTable(&AdsTable4, dataDir_, &operator_);

    wwDBNavigator1 = new DBNavigator(this);
    wwDBNavigator1->setObjectName("wwDBNavigator1");
    wwDBNavigator1->move(6, 289);
    wwDBNavigator1->hide();
    wwDBNavigator1->setBeforeAction([this] {
        if (CodeGrid* grid = gridOfNavigator()) {
            grid->commitEditor();
            grid->codeModel()->checkBrowseMode();
        }
    });
    wwDBNavigator1->setSelectActions([this] { btnAllClick(); }, [this] { btnNoneClick(); });

    btnOK = ui::makeButton(this, "btnOK", "&OK", QRect(256, 289, 75, 25));
    btnOK->setDefault(true);
    btnCancel = makeButton(this, "btnCancel", "&Cancel", QRect(337, 289, 75, 25));

    OvcNotebook1->setCurrentIndex(PathPage);

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button2, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { Button2Click(); }); });
    connect(OvcNotebook1, &QTabWidget::currentChanged, this, [this](int index) {
        ui::guarded(this, [this, index] { OvcNotebook1PageChange(index); });
    });
    connect(ComboBox1, &QComboBox::currentTextChanged, this,
            [this] { ui::guarded(this, [this] { ComboBox1Change(); }); });
    connect(ComboBox2, &QComboBox::currentTextChanged, this,
            [this] { ui::guarded(this, [this] { ComboBox2Change(); }); });
    connect(btnBuildP, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnBuildPClick(); }); });
    connect(btnBuildT, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnBuildTClick(); }); });
    // Only the operator's clicks set the layout, not the filling of the group.
    for (int i = 0; i < rgFileFormat->count(); ++i)
        connect(rgFileFormat->button(i), &QRadioButton::clicked, this,
                [this] { ui::guarded(this, [this] { rgFileFormatClick(); }); });
    connect(btnPrint, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnPrintClick(); }); });
}

void TSetPathtoORVAForm::FormCreate() {}

void TSetPathtoORVAForm::FormDestroy() {
    for (auto [table, grid] :
         {std::pair{&AdsTable1, wwDBGrid1}, std::pair{&AdsTable4, wwDBGrid2}}) {
        if (!table->Active()) continue;
        grid->commitEditor();
        grid->codeModel()->checkBrowseMode();
        table->Close();
    }
}

void TSetPathtoORVAForm::DiscardAndCloseCodeTables() {
    for (TAdsTable* table : {&AdsTable1, &AdsTable4}) {
        table->Cancel();
        table->Close();
    }
}

void TSetPathtoORVAForm::KeepCodeTablesClosed() {
    DiscardAndCloseCodeTables();
    for (int page : {PlacementPage, TestPage})
        OvcNotebook1->setTabEnabled(page, false);
}

void TSetPathtoORVAForm::Button2Click() {
    QString start = Edit2->text();
    if (start.isEmpty() || !QDir(start).exists()) start = QDir::currentPath();
    if (auto chosen = ui::directoryDialog(this, "", QDir::toNativeSeparators(start).toStdString()))
        Edit2->setText(QString::fromStdString(*chosen));
}

CodeGrid* TSetPathtoORVAForm::gridOfNavigator() const {
    if (wwDBNavigator1->dataSource() == &AdsTable1) return wwDBGrid1;
    if (wwDBNavigator1->dataSource() == &AdsTable4) return wwDBGrid2;
    return nullptr;
}

void TSetPathtoORVAForm::OvcNotebook1PageChange(int index) {
    // A half-typed cell is kept in its row; an untouched new row goes.
    for (CodeGrid* grid : {wwDBGrid1, wwDBGrid2}) {
        grid->commitEditor();
        grid->codeModel()->checkBrowseMode();
    }
    switch (index) {
    case PlacementPage:
        wwDBNavigator1->setDataSource(&AdsTable1);
        wwDBNavigator1->show();
        refillPeriodChooser(ComboBox1, btnBuildP);
        if (!OpenPlacementCodes()) ui::requestTermination();
        break;
    case TestPage:
        wwDBNavigator1->setDataSource(&AdsTable4);
        wwDBNavigator1->show();
        refillPeriodChooser(ComboBox2, btnBuildT);
        if (!OpenTestCodes()) ui::requestTermination();
        break;
    default:
        wwDBNavigator1->hide();
        break;
    }
}

void TSetPathtoORVAForm::refillPeriodChooser(QComboBox* chooser, QPushButton* build) {
    const ProgramState& program = program_;
    chooser->blockSignals(true);
    chooser->clear();
    int selected = -1;
    for (size_t i = 0; i < program.PeriodNames.size(); ++i) {
        chooser->addItem(QString::fromStdString(program.PeriodNames[i]));
        if (program.SelectedPeriodIndex >= 0 &&
            PeriodNumberOfEntry(program.PeriodNames[i]) == program.SelectedPeriodIndex + 1)
            selected = static_cast<int>(i);
    }
    chooser->setCurrentIndex(selected);
    if (selected < 0) chooser->setEditText({});
    chooser->lineEdit()->setCursorPosition(0);
    chooser->blockSignals(false);
    fitPeriodChooser(chooser, build);
    build->setEnabled(chosenPeriod(chooser) > 0);
}

// The chooser grows from its designed width by what its widest entry lacks,
// as far as the page allows, and the Build button beside it moves along;
// an entry longer than that shows its beginning, the period's number.
void TSetPathtoORVAForm::fitPeriodChooser(QComboBox* chooser, QPushButton* build) {
    constexpr int kDesignedWidth = 173;
    constexpr int kGap = 9; // between the chooser and Build
    const QFontMetrics metrics = chooser->fontMetrics();
    int widest = 0;
    for (int i = 0; i < chooser->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(chooser->itemText(i)));
    QStyleOptionComboBox option;
    option.initFrom(chooser);
    option.editable = true;
    option.rect = QRect(0, 0, kDesignedWidth, chooser->height());
    const int field =
        chooser->style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, chooser)
            .width();
    const int lineEditMargins = 4;
    const int room = chooser->parentWidget()->width() - 4 - build->width() - kGap - chooser->x();
    const int width =
        std::min(room, kDesignedWidth + std::max(0, widest + lineEditMargins - field));
    chooser->resize(std::max(kDesignedWidth, width), chooser->height());
    build->move(chooser->geometry().right() + 1 + kGap, build->y());
}

int TSetPathtoORVAForm::chosenPeriod(const QComboBox* chooser) const {
    const int entry = chooser->findText(chooser->currentText(), Qt::MatchExactly);
    if (entry < 0) return 0;
    return PeriodNumberOfEntry(chooser->itemText(entry).toStdString());
}

void TSetPathtoORVAForm::ComboBox1Change() {
    btnBuildP->setEnabled(chosenPeriod(ComboBox1) > 0);
}

void TSetPathtoORVAForm::ComboBox2Change() {
    btnBuildT->setEnabled(chosenPeriod(ComboBox2) > 0);
}

bool TSetPathtoORVAForm::OpenPlacementCodes() {
    return OpenCodeTable(AdsTable1, CodeTableKind::Placement, dataDir_, operator_);
}

bool TSetPathtoORVAForm::OpenTestCodes() {
    return OpenCodeTable(AdsTable4, CodeTableKind::TestScore, dataDir_, operator_);
}

void TSetPathtoORVAForm::rebuild(QComboBox* chooser, TAdsTable& table, CodeGrid* grid,
                                 CodeTableKind kind) {
    const int period = chosenPeriod(chooser);
    if (period <= 0) return;
    grid->commitEditor();
    grid->codeModel()->checkBrowseMode();
    const RebuildResult result = RebuildCodeTable(table, kind, dataDir_, period, operator_);
    if (result == RebuildResult::GaveUp) ui::requestTermination();
}

void TSetPathtoORVAForm::btnBuildPClick() {
    rebuild(ComboBox1, AdsTable1, wwDBGrid1, CodeTableKind::Placement);
}

void TSetPathtoORVAForm::btnBuildTClick() {
    rebuild(ComboBox2, AdsTable4, wwDBGrid2, CodeTableKind::TestScore);
}

void TSetPathtoORVAForm::btnAllClick() {
    if (TAdsTable* table = wwDBNavigator1->dataSource()) SetIncludeOnEveryRow(*table, true);
}

void TSetPathtoORVAForm::btnNoneClick() {
    if (TAdsTable* table = wwDBNavigator1->dataSource()) SetIncludeOnEveryRow(*table, false);
}

void TSetPathtoORVAForm::rgFileFormatClick() {
    program_.FileFormat = rgFileFormat->itemIndex();
}

void TSetPathtoORVAForm::btnPrintClick() {
    ShowLayoutReport(this, rgFileFormat->itemIndex(), chkAttempt->isChecked(),
                     chkSubscores->isChecked(), chkPandA->isChecked(), chkSiteCode->isChecked());
}
