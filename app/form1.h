// The program's one window: its controls and what only a window does (drops, the mode and
// compression switches, the output panel, dragging, keeping on top, placing itself). What START
// does, the jobs and the archiver are the workflow's (workflow.h) and the settings file's keys
// are settings.h's; START, ShowMessage and start-up's checks hand over to the workflow in one
// line.
#pragma once

#include "layout.h"
#include "libraries.h"
#include "message.h"
#include "rules.h"
#include "workflow.h"

#include <QLineEdit>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QValidator;
class FolderList;
class QPushButton;
class QRadioButton;

// The input box: takes dropped files and folders and hands on their local paths.
class DropLineEdit : public QLineEdit {
    Q_OBJECT
  public:
    using QLineEdit::QLineEdit;

  signals:
    void pathsDropped(const QStringList &paths);

  protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

// The key box: only hexadecimal digits get in, typed or pasted, at most eight. For a strong
// file it takes a passphrase instead: any text, shown as dots, up to the passphrase's limit.
class KeyLineEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit KeyLineEdit(QWidget *parent);
    // Switches between a key and a passphrase; what was typed for the other goes.
    void setPassphraseMode(bool passphrase);

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    void insertFromClipboard();
    void contextMenuEvent(QContextMenuEvent *event) override;

  private:
    QValidator *m_keyValidator;
    bool m_passphrase = false;
};

class Form1 : public QWidget, private WorkflowView {
    Q_OBJECT
  public:
    struct Config {
        QString codecLibrary;    // file name (bare, or a path) of the codec library
        QString archiverLibrary; // file name of the archiver library
        QString programFolder;   // the folder that holds the program
        QString workingFolder;   // where start-up looks for the codec library and Tolvex.dat
    };

    static constexpr int kCollapsedWidth = 6930; // twips: the output location panel hidden
    static constexpr int kExpandedWidth = 9945;  // twips: the panel shown

    Form1(Config config, std::shared_ptr<MessagePresenter> presenter);
    ~Form1() override;

    // Message helper: the only way a message box is shown.
    int ShowMessage(const texts::Text &prompt, int style, const texts::Text &title);

    // Start-up: false when the program must end at once (already running, a file missing).
    bool Load(bool anotherCopyRunning);

    // Start command (the START button).
    void StartCommand();

    // Mode and input selection.
    void Option1Click(int index);
    void LzhChChange();
    // The strong option: the key box and its labels follow it.
    void StrongChChange();
    void Text1Drop(const QStringList &paths);

    // Output location panel.
    void Command2Click(); // browse: open the panel
    void Command3Click(); // back to the default location beside the input
    void OkBotClick();
    void CanBotClick();
    void Drive1Change();
    void Dir1Change();

    // Window behaviour: dragging by the surface, the labels and the frame; keeping on top.
    void BeginDrag(float x, float y);
    void DragMove(float x, float y);
    void Check1Click();

    // Shutdown: saves the settings once, however the program is asked to end.
    void Unload();

    // Settings file.
    void LoadSettings();
    void SaveSettings();
    QString settingsFile() const;

    // The window's width in twips (collapsed or expanded); the window manager's frame comes on
    // top of it. Only the program changes the window's size.
    void setWidthTwips(int twips);
    int twipsToPixels(int twips) const;
    float pixelsToTwips(double pixels) const;

    // The title bar: the window's title keeps the Japanese source, the bar shows it in the
    // interface language.
    void showCaption(const texts::Text &caption) override;

  protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void changeEvent(QEvent *event) override;

  private:
    // Controls; each is also its object name (Option1_0, inpmode_3, label_5, Line1 for the
    // arrays), by which accessibility tools and tests find it.
    DropLineEdit *Text1;
    QLineEdit *Text2;
    KeyLineEdit *Text3;
    QLineEdit *Text4;
    QPushButton *Command1;
    QPushButton *Command2;
    QPushButton *Command3;
    QPushButton *OK_BOT;
    QPushButton *Can_BOT;
    std::array<QRadioButton *, 2> Option1;
    QCheckBox *lzh_ch;
    QCheckBox *strong_ch;
    QLabel *lzh_lb;
    QCheckBox *Check1;
    QCheckBox *Check2;
    QGroupBox *Frame1;
    std::array<QRadioButton *, tolvex::kKindCount> inpmode; // one per disguise kind
    std::array<QLabel *, 8> label;
    QComboBox *Drive1;
    FolderList *Dir1;
    std::array<QFrame *, 6> Line;

    void buildControls();
    void connectHandlers();
    int selectedKind() const;
    void fillDrives();
    std::optional<QString> inputFolder() const;
    bool dragEvent(QEvent *event, QWidget *source);
    void setCaption(QLabel *caption, const texts::Text &text);
    void savePosition();
    void showTitle();
    void fitCaptions();

    // What the workflow asks of the window.
    QWidget *beforeMessage() override;
    void afterMessage() override;
    void hideForJob() override;
    void showAfterJob() override;

    Config m_config;
    rules::Mode m_mode = rules::Mode::Encrypt;
    texts::Text m_caption;
    Libraries m_libraries;
    Workflow m_workflow;
    QString m_currentFolder;
    QString m_droppedPath;
    QString m_droppedName;
    bool m_customLocation = false;
    bool m_dragging = false;
    float m_dragX = 0;
    float m_dragY = 0;
    bool m_closing = false;
    bool m_archiverFound = false;
    bool m_strongChosen = false; // the user's choice for encryption, kept while decrypting
    // Decrypting: the user's choice of a passphrase in the key box, which a version 1 input
    // overrides while it is the input (m_recognising: that override is being shown).
    bool m_passphraseChosen = false;
    bool m_recognising = false;
    void showStrong(bool strong);
    void recogniseInput();
    QButtonGroup *m_modeGroup = nullptr;
    QButtonGroup *m_disguiseGroup = nullptr;
    // First start: the window system places the window; its position is saved once it is there.
    enum class FirstPosition { NotWanted, WhenShown, WhenPlaced };
    FirstPosition m_firstPosition = FirstPosition::NotWanted;
};
