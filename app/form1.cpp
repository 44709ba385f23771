#include "form1.h"

#include "folder_list.h"
#include "language.h"
#include "layout.h"
#include "passphrase_rule.h"
#include "platform.h"
#include "rules.h"
#include "texts.h"

#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Where each control sits, in twips from the client area's top left (inside Frame1 for the
// disguise buttons and "AUTO").
struct Place {
    int x, y, w, h;
};

constexpr int kClientWidth = 9810; // up to the panel's right edge
constexpr int kClientHeight = 3390;
static_assert(Form1::kExpandedWidth >= kClientWidth, "the expanded window shows the whole panel");

QList<QString> localPaths(const QMimeData *data) {
    QList<QString> paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

} // namespace

void DropLineEdit::dragEnterEvent(QDragEnterEvent *event) {
    if (!localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore(); // text from other programs is no input
}

void DropLineEdit::dragMoveEvent(QDragMoveEvent *event) {
    if (!localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void DropLineEdit::dropEvent(QDropEvent *event) {
    const QStringList paths = localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit pathsDropped(paths);
}

KeyLineEdit::KeyLineEdit(QWidget *parent)
    : QLineEdit(parent),
      // Whatever way text arrives (typing, pasting, an input method), only hexadecimal digits
      // get into a key.
      m_keyValidator(new QRegularExpressionValidator(
          QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,8}")), this)) {
    setMaxLength(8);
    setValidator(m_keyValidator);
    setAcceptDrops(false); // nothing may be dropped here
}

void KeyLineEdit::setPassphraseMode(bool passphrase) {
    if (passphrase == m_passphrase)
        return;
    m_passphrase = passphrase;
    clear();
    setValidator(passphrase ? nullptr : m_keyValidator);
    // Characters, not bytes: START holds the UTF-8 bytes to the limit and says so.
    setMaxLength(passphrase ? static_cast<int>(strong::kMaxPassphrase) : 8);
    setEchoMode(passphrase ? QLineEdit::Password : QLineEdit::Normal);
    setInputMethodHints(passphrase ? Qt::ImhSensitiveData | Qt::ImhNoPredictiveText : Qt::ImhNone);
}

void KeyLineEdit::keyPressEvent(QKeyEvent *event) {
    if (m_passphrase) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        insertFromClipboard();
        return;
    }
    // Keys that type a character go through the key filter; keys that type nothing (arrows,
    // Delete, Home) work as usual.
    const QString typed = event->text();
    if (event->key() == Qt::Key_Backspace || typed.isEmpty() ||
        (typed.size() == 1 && !typed[0].isPrint() && typed[0] != u'\r' && typed[0] != u'\n' &&
         typed[0] != u'\t' && typed[0] != u'\x1b')) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    for (QChar c : typed)
        if (!rules::keyCharacterPasses(c.unicode())) {
            event->accept();
            return;
        }
    QLineEdit::keyPressEvent(event);
}

void KeyLineEdit::insertFromClipboard() {
    const QString pasted = QApplication::clipboard()->text();
    insert(m_passphrase ? pasted : rules::keepKeyCharacters(pasted));
}

void KeyLineEdit::contextMenuEvent(QContextMenuEvent *event) {
    // The standard menu's paste would bypass the filter: route it through ours.
    QMenu *menu = createStandardContextMenu();
    for (QAction *action : menu->actions())
        if (action->objectName() == QLatin1String("edit-paste")) {
            disconnect(action, nullptr, nullptr, nullptr);
            connect(action, &QAction::triggered, this, &KeyLineEdit::insertFromClipboard);
        }
    menu->exec(event->globalPos());
    delete menu;
}

Form1::Form1(Config config, std::shared_ptr<MessagePresenter> presenter)
    : m_config(std::move(config)),
      m_libraries(m_config.codecLibrary, m_config.archiverLibrary, m_config.programFolder),
      m_workflow(*this, std::move(presenter), m_libraries) {
    setObjectName(QStringLiteral("Form1"));
    // A fixed-size window: a title, a menu, minimize and close, but nothing that resizes it.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Tolvex"));
    m_mode = rules::Mode::Encrypt;
    m_currentFolder = m_config.programFolder;
    buildControls();
    connectHandlers();
}

Form1::~Form1() = default;

int Form1::twipsToPixels(int twips) const {
    const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    return int(std::lround(double(twips) * dpi / 1440.0));
}

float Form1::pixelsToTwips(double pixels) const {
    const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    return float(pixels * 1440.0 / dpi);
}

void Form1::setWidthTwips(int twips) {
    // The window's own area, not counting the frame that the window manager draws around it:
    // that frame differs between desktops and themes and is known only after the window is
    // shown, while this width must be the same from the first moment on. The least and the
    // greatest size are the size itself, so no window manager offers to resize the window.
    setFixedSize(twipsToPixels(twips), twipsToPixels(kClientHeight));
}

// The caption the procedures set is the Japanese source; the title bar shows it in the
// interface language.
void Form1::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        showTitle();
}

void Form1::showCaption(const texts::Text &caption) {
    m_caption = caption;
    setWindowTitle(caption.source());
    showTitle();
}

void Form1::showTitle() {
    if (QWindow *handle = windowHandle())
        handle->setTitle(windowTitle() == m_caption.source() ? m_caption.shown() : windowTitle());
}

void Form1::setCaption(QLabel *caption, const texts::Text &text) {
    caption->setText(text.shown());
    // A text box named by this label is announced by the label's text: tell screen readers.
    if (QWidget *named = caption->buddy()) {
        QAccessibleEvent changed(named, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

void Form1::buildControls() {
    QFont font(QStringLiteral("Noto Sans CJK JP"), 9);
    setFont(font);
    // Screen readers announce each control by its caption, and a text box by the label that
    // names it (its buddy); neither is copied into a fixed accessible name, so what they announce
    // follows the captions as they change.
    const auto place = [this](QWidget *w, const char *name, Place p) {
        w->setObjectName(QLatin1String(name));
        w->setGeometry(twipsToPixels(p.x), twipsToPixels(p.y), twipsToPixels(p.w),
                       twipsToPixels(p.h));
    };
    const auto makeLabel = [&](int index, const QString &text, Place p, QWidget *parent = nullptr) {
        auto *l = new QLabel(text, parent ? parent : this);
        place(l, "", p);
        l->setObjectName(QStringLiteral("label_%1").arg(index));
        label[size_t(index)] = l;
        return l;
    };

    // Main area.
    Option1[0] = new QRadioButton(texts::kEncrypt.shown(), this);
    place(Option1[0], "Option1_0", {120, 60, 1050, 300});
    Option1[1] = new QRadioButton(texts::kDecrypt.shown(), this);
    place(Option1[1], "Option1_1", {1200, 60, 1050, 300});
    Option1[0]->setChecked(true);
    // The two mode buttons and the sixteen disguise buttons are two groups of their own: one of
    // each is always selected, and arrow keys move only within a group.
    m_modeGroup = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i)
        m_modeGroup->addButton(Option1[size_t(i)], i);

    lzh_ch = new QCheckBox(texts::kCompression.shown(), this);
    place(lzh_ch, "lzh_ch", {2340, 60, 1260, 300});
    lzh_ch->setChecked(true);
    lzh_lb = new QLabel(texts::kArchiverMissingLabel.shown(), this);
    place(lzh_lb, "lzh_lb", {2340, 60, 2100, 300});
    lzh_lb->setStyleSheet(QStringLiteral("color: #000080;"));
    lzh_lb->hide();

    strong_ch = new QCheckBox(texts::kStrong.shown(), this);
    place(strong_ch, "strong_ch", {3630, 60, 840, 300});
    strong_ch->setToolTip(texts::kStrongTip.shown().replace(u'\r', u'\n'));
    strong_ch->setAccessibleDescription(texts::kStrongTip.shown().replace(u'\r', u' '));

    Check1 = new QCheckBox(texts::kKeepInFront.shown(), this);
    place(Check1, "Check1", {4500, 60, 1140, 300});
    Check1->setChecked(true);
    Check2 = new QCheckBox(texts::kSaveSettings.shown(), this);
    place(Check2, "Check2", {5700, 60, 1200, 300});
    Check2->setChecked(true);

    makeLabel(1, rules::inputLabel(true).shown(), {120, 390, 6690, 225});
    Text1 = new DropLineEdit(texts::kDropPrompt.shown(), this);
    place(Text1, "Text1", {120, 615, 6690, 330});
    Text1->setAcceptDrops(true);
    label[1]->setBuddy(Text1);

    makeLabel(2, texts::kOutputNameLabel.shown(), {120, 990, 6690, 225});
    Text4 = new QLineEdit(texts::kLocationPrompt.shown(), this);
    place(Text4, "Text4", {120, 1215, 3750, 330});
    Text4->setAcceptDrops(false); // only Text1 takes dropped files
    label[2]->setBuddy(Text4);
    Command2 = new QPushButton(texts::kBrowse.shown(), this);
    place(Command2, "Command2", {3930, 1215, 720, 330});
    Command3 = new QPushButton(texts::kBackToDefault.shown(), this);
    place(Command3, "Command3", {4710, 1215, 2100, 330});

    Text3 = new KeyLineEdit(this);
    place(Text3, "Text3", {120, 1605, 1260, 330});
    makeLabel(5, texts::kKeyLabel.shown(), {1440, 1650, 2850, 240});
    label[5]->setBuddy(Text3);
    Command1 = new QPushButton(texts::kStart, this);
    place(Command1, "Command1", {5010, 1560, 1800, 420});
    QFont startFont = font;
    startFont.setBold(true);
    startFont.setPointSize(12);
    Command1->setFont(startFont);
    QFont small = font;
    small.setPointSize(7);
    makeLabel(4, texts::kKeyHint.shown(), {120, 1965, 6690, 210})->setFont(small);

    Frame1 = new QGroupBox(texts::kDisguiseFrame.shown(), this);
    constexpr Place kFrame{60, 2190, 6810, 1170};
    place(Frame1, "Frame1", kFrame);
    // The caption sits in the frame's top border, so the border runs above the first row of
    // buttons instead of through it.
    Frame1->setStyleSheet(
        QStringLiteral(
            "QGroupBox#Frame1 { border: 1px solid palette(mid); border-radius: 2px; margin-top: "
            "%1px; }"
            "QGroupBox#Frame1::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: %2px; padding: 0 2px; }")
            .arg(twipsToPixels(120))
            .arg(twipsToPixels(90)));
    inpmode[0] = new QRadioButton(texts::kNoDisguise.shown(), Frame1);
    place(inpmode[0], "inpmode_0", {120, 255, 1950, 225});
    inpmode[0]->setChecked(true);
    // The disguise buttons fill the frame under "no disguise" row by row: as many rows as the
    // frame holds, as many columns as the kinds then need, each column narrower only once the
    // frame's width runs out.
    constexpr int kGridLeft = 120, kGridTop = 480, kRowHeight = 225, kGap = 30;
    constexpr int kRows = (kFrame.h - kGridTop) / kRowHeight;
    constexpr int kColumns = (tolvex::kKindCount - 1 + kRows - 1) / kRows;
    constexpr int kPitch = std::min(1320, (kFrame.w - kGridLeft) / kColumns);
    static_assert(kPitch - kGap >= 900, "too many disguise kinds for the frame's width");
    for (int kind = 1; kind < tolvex::kKindCount; ++kind) {
        const int column = (kind - 1) % kColumns, row = (kind - 1) / kColumns;
        QRadioButton *&button = inpmode[static_cast<size_t>(kind)];
        button = new QRadioButton(QLatin1String(tolvex::kindCaption(kind)), Frame1);
        const int x = kGridLeft + column * kPitch, y = kGridTop + row * kRowHeight;
        place(button, "", {x, y, kPitch - kGap, kRowHeight});
        button->setObjectName(QStringLiteral("inpmode_%1").arg(kind));
    }
    m_disguiseGroup = new QButtonGroup(this);
    for (int kind = 0; kind < tolvex::kKindCount; ++kind)
        m_disguiseGroup->addButton(inpmode[static_cast<size_t>(kind)], kind);
    makeLabel(7, texts::kAuto, {5400, 255, 900, 225}, Frame1)
        ->setStyleSheet(QStringLiteral("color: #800000;"));
    label[7]->hide();

    // Output location panel, right of Line6.
    makeLabel(6, texts::kSaveLocation.shown(), {7080, 60, 1500, 240});
    Drive1 = new QComboBox(this);
    place(Drive1, "Drive1", {7080, 390, 2610, 330});
    Drive1->setAccessibleName(texts::kSaveLocation.shown());
    Dir1 = new FolderList(this);
    place(Dir1, "Dir1", {7080, 750, 2610, 1260});
    Dir1->setAccessibleName(texts::kSaveLocation.shown());
    Dir1->fitWholeRows();
    makeLabel(3, texts::kFileNameLabel.shown(), {7080, 2040, 2610, 225});
    Text2 = new QLineEdit(texts::kDefaultName, this);
    place(Text2, "Text2", {7080, 2280, 2610, 330});
    Text2->setAcceptDrops(false);
    label[3]->setBuddy(Text2);
    OK_BOT = new QPushButton(QStringLiteral("OK"), this);
    place(OK_BOT, "OK_BOT", {7080, 2715, 1260, 360});
    Can_BOT = new QPushButton(QStringLiteral("Cancel"), this);
    place(Can_BOT, "Can_BOT", {8430, 2715, 1260, 360});
    QFont credit = font;
    credit.setItalic(true);
    credit.setPointSize(7);
    makeLabel(0, texts::kCredit, {7080, 3120, 2610, 240})->setFont(credit);

    const Place lines[6] = {{60, 360, 6810, 15},    {60, 1575, 4830, 15},  {7050, 330, 2670, 15},
                            {7050, 2655, 2670, 15}, {4890, 1575, 15, 600}, {6960, 0, 15, 3390}};
    for (int i = 0; i < 6; ++i) {
        Line[size_t(i)] = new QFrame(this);
        Line[size_t(i)]->setFrameShape(lines[i].w > lines[i].h ? QFrame::HLine : QFrame::VLine);
        Line[size_t(i)]->setFrameShadow(QFrame::Sunken);
        place(Line[size_t(i)], "", lines[i]);
        Line[size_t(i)]->setObjectName(QStringLiteral("Line%1").arg(i + 1));
    }

    fitCaptions();
    setWidthTwips(kCollapsedWidth);
}

// Captions longer than their places (in languages other than Japanese, or the archiver's
// missing label) must not be cut: the top row then closes up, each control as wide as its
// caption and the room left shared out between them; the browse button takes its room from the
// output box beside it.
void Form1::fitCaptions() {
    const int left = twipsToPixels(120);
    const int right = twipsToPixels(kCollapsedWidth - 60);
    const int gap = twipsToPixels(60);
    std::vector<QWidget *> row{Option1[0], Option1[1], lzh_ch, strong_ch, Check1, Check2};
    if (lzh_lb->isVisibleTo(this)) {
        row[2] = lzh_lb;
        int needed = 0;
        for (QWidget *control : row)
            needed += control->sizeHint().width();
        // Where the top row cannot hold the archiver's missing label, it stands at the end of
        // the row below, after the input's label.
        if (needed + gap * static_cast<int>(row.size() - 1) > right - left) {
            const int width = lzh_lb->sizeHint().width();
            lzh_lb->setGeometry(right - width, label[1]->y(), width, label[1]->height());
            label[1]->resize(lzh_lb->x() - gap - label[1]->x(), label[1]->height());
            row.erase(row.begin() + 2);
        }
    }
    bool fits = row[2]->geometry().right() < strong_ch->x();
    int needed = 0;
    for (QWidget *control : row) {
        fits = fits && control->sizeHint().width() <= control->width();
        needed += control->sizeHint().width();
    }
    if (!fits) {
        const int room = std::max(0, right - left - needed);
        const int gaps = static_cast<int>(row.size()) - 1;
        int x = left;
        for (int i = 0; i <= gaps; ++i) {
            QWidget *control = row[static_cast<size_t>(i)];
            const int width = control->sizeHint().width();
            control->setGeometry(x, control->y(), width, control->height());
            // The room is shared out so that the last control ends on the right margin.
            x += width + room * (i + 1) / gaps - room * i / gaps;
        }
    }
    const int browse =
        Command2->fontMetrics().horizontalAdvance(Command2->text()) + twipsToPixels(120);
    if (browse > Command2->width()) {
        const int more = browse - Command2->width();
        Command2->setGeometry(Command2->x() - more, Command2->y(), browse, Command2->height());
        Text4->resize(Text4->width() - more, Text4->height());
    }
}

void Form1::connectHandlers() {
    connect(Command1, &QPushButton::clicked, this, &Form1::StartCommand);
    // The mode handler runs whenever a mode becomes selected: a click, an arrow key, a screen
    // reader's toggle action or code; selecting the mode already selected changes nothing.
    connect(m_modeGroup, &QButtonGroup::idToggled, this, [this](int index, bool selected) {
        if (selected)
            Option1Click(index);
    });
    connect(lzh_ch, &QCheckBox::stateChanged, this, &Form1::LzhChChange);
    connect(strong_ch, &QCheckBox::toggled, this, &Form1::StrongChChange);
    connect(Text1, &DropLineEdit::pathsDropped, this, &Form1::Text1Drop);
    // Decrypting, the input tells whether it is strong, however its path got into the box.
    connect(Text1, &QLineEdit::textChanged, this, [this] {
        if (m_mode == rules::Mode::Decrypt)
            recogniseInput();
    });
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3Click);
    connect(OK_BOT, &QPushButton::clicked, this, &Form1::OkBotClick);
    connect(Can_BOT, &QPushButton::clicked, this, &Form1::CanBotClick);
    connect(Drive1, &QComboBox::activated, this, &Form1::Drive1Change);
    connect(Dir1, &FolderList::pathChanged, this, &Form1::Dir1Change);
    connect(Check1, &QCheckBox::toggled, this, &Form1::Check1Click);
    // The labels and the frame carry a window drag; the window's own surface does it itself.
    for (QLabel *l : label)
        l->installEventFilter(this);
    Frame1->installEventFilter(this);
}

int Form1::selectedKind() const {
    return std::max(0, m_disguiseGroup->checkedId());
}

void Form1::Unload() {
    if (m_closing)
        return;
    m_closing = true;
    SaveSettings();
}

void Form1::closeEvent(QCloseEvent *event) {
    // Closing is never refused: save the settings and end the program.
    Unload();
    event->accept();
    QApplication::quit();
}
