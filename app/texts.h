// Every text the window shows: captions, labels and messages. Each is an entry of the catalogue
// (context "Tolvex", Japanese source), marked for lupdate, which makes translations/tolvex_en.ts
// from these very lines. Lines within one message are separated by a single carriage return (13).
#pragma once

#include <QCoreApplication>
#include <QString>
#include <optional>

namespace texts {

// A text of the window: its catalogue entry and, for entries with a %1, the value that fills it.
// The procedures keep and compare the Japanese source (so the window's state and what tests
// record do not depend on the language); the user reads shown(), in the interface language.
class Text {
  public:
    Text() = default;
    // `entry` is a string literal marked with QT_TRANSLATE_NOOP("Tolvex", ...).
    Text(const char *entry) : m_entry(entry) {}

    // A value shown as it is in every language, such as a file name used as a title.
    static Text verbatim(const QString &value) { return Text("%1").arg(value); }

    Text arg(const QString &value) const {
        Text filled = *this;
        filled.m_value = value;
        return filled;
    }
    QString source() const { return fill(QString::fromUtf8(m_entry)); }
    QString shown() const { return fill(QCoreApplication::translate("Tolvex", m_entry)); }
    operator QString() const { return source(); }

    friend bool operator==(const Text &a, const Text &b) { return a.source() == b.source(); }

  private:
    QString fill(const QString &line) const { return m_value ? line.arg(*m_value) : line; }

    const char *m_entry = "";
    std::optional<QString> m_value;
};

// Names and captions that are the same in every language.
inline const QString kCodecLibraryFile = QStringLiteral("libHalvet_Tolvex.so");
inline const QString kArchiverLibraryFile = QStringLiteral("libunlha32.so");
inline const QString kTemplateFile = QStringLiteral("Tolvex.dat");
inline const QString kIdleCaption = QStringLiteral("Tolvex v3.10");
inline const QString kDefaultName = QStringLiteral("Tolvex");
inline const QString kAuto = QStringLiteral("AUTO");
inline const QString kStart = QStringLiteral("START");
inline const QString kCredit = QStringLiteral("Tolvex by Halvet");

// Captions.
inline const Text kDropPrompt = QT_TRANSLATE_NOOP("Tolvex", "ここにドラッグ＆ドロップして下さい。");
inline const Text kLocationPrompt = QT_TRANSLATE_NOOP("Tolvex", "保存場所を決めてください");
inline const Text kEncrypt = QT_TRANSLATE_NOOP("Tolvex", "暗号化");
inline const Text kDecrypt = QT_TRANSLATE_NOOP("Tolvex", "復号化");
inline const Text kCompression = QT_TRANSLATE_NOOP("Tolvex", "圧縮有効");
inline const Text kArchiverMissingLabel =
    Text(QT_TRANSLATE_NOOP("Tolvex", "%1 未導入")).arg(kArchiverLibraryFile);
inline const Text kKeepInFront = QT_TRANSLATE_NOOP("Tolvex", "前面表示");
inline const Text kSaveSettings = QT_TRANSLATE_NOOP("Tolvex", "設定保存");
inline const Text kDisguiseFrame = QT_TRANSLATE_NOOP("Tolvex", "偽装モード設定");
inline const Text kNoDisguise = QT_TRANSLATE_NOOP("Tolvex", "偽装なし(.tvx)");
inline const Text kBrowse = QT_TRANSLATE_NOOP("Tolvex", "参照");
inline const Text kBackToDefault = QT_TRANSLATE_NOOP("Tolvex", "デフォルトに戻す");
inline const Text kOutputNameLabel =
    QT_TRANSLATE_NOOP("Tolvex", "↓作成するファイル名(拡張子は自動で付きます)");
inline const Text kKeyLabel = QT_TRANSLATE_NOOP("Tolvex", "←にキーを入れてください。");
inline const Text kKeyHint = QT_TRANSLATE_NOOP(
    "Tolvex", "*使える文字は「数字(0-9)」と「A-Fの英字」です。　*文字数は8文字以下です。");
inline const Text kSaveLocation = QT_TRANSLATE_NOOP("Tolvex", "保存場所");
inline const Text kFileNameLabel = QT_TRANSLATE_NOOP("Tolvex", "↓ファイル名");
inline const Text kInputLabel = QT_TRANSLATE_NOOP("Tolvex", "↓に変換するファイルを入れてください");
inline const Text kInputLabelWithFolders =
    QT_TRANSLATE_NOOP("Tolvex", "↓に変換するファイル or フォルダを入れてください");
inline const Text kEncryptedOutputLabel =
    QT_TRANSLATE_NOOP("Tolvex", "↓として暗号化したファイルを保存します");
inline const Text kDecryptedOutputLabel =
    QT_TRANSLATE_NOOP("Tolvex", "↓として復号化したファイルを保存します");
inline const Text kEncryptingCaption = QT_TRANSLATE_NOOP("Tolvex", "Tolvex v3.10  <暗号化中>");
inline const Text kDecryptingCaption = QT_TRANSLATE_NOOP("Tolvex", "Tolvex v3.10  <復号化中>");

// The strong option.
inline const Text kStrong = QT_TRANSLATE_NOOP("Tolvex", "強力");
inline const Text kStrongTip = QT_TRANSLATE_NOOP(
    "Tolvex",
    "パスフレーズから導いた鍵で暗号化します（Argon2id と XChaCha20-Poly1305）。\r"
    "復号化では、キーの欄にパスフレーズを入れます（旧形式の強力ファイルは自動で判別します）。");
inline const Text kPassphraseLabel =
    QT_TRANSLATE_NOOP("Tolvex", "←にパスフレーズを入れてください。");
inline const Text kPassphraseHint =
    QT_TRANSLATE_NOOP("Tolvex", "*パスフレーズを忘れると、ファイルは二度と元に戻せません。");

// Titles.
inline const Text kError = QT_TRANSLATE_NOOP("Tolvex", "エラー");
inline const Text kReport = QT_TRANSLATE_NOOP("Tolvex", "報告");
inline const Text kConfirm = QT_TRANSLATE_NOOP("Tolvex", "確認");
inline const Text kRunError = QT_TRANSLATE_NOOP("Tolvex", "実行エラー");
inline const Text kFileError = QT_TRANSLATE_NOOP("Tolvex", "ファイルエラー");
inline const Text kCannotProcessLzh = QT_TRANSLATE_NOOP("Tolvex", "lzhの処理ができません。");

// Start command.
inline const Text kNoKey = QT_TRANSLATE_NOOP("Tolvex", "キーコードが入力されていません");
inline const Text kNoFileName = QT_TRANSLATE_NOOP("Tolvex", "ファイルの名前が入力されていません");
inline const Text kNoOutputName =
    QT_TRANSLATE_NOOP("Tolvex", "保存するファイルの名前が入力されていません");
inline const Text kOverwrite = QT_TRANSLATE_NOOP(
    "Tolvex", "既に存在しているファイルに書き込もうとしました。\r上書きしますか？");
inline const Text kSourceMissing = QT_TRANSLATE_NOOP("Tolvex", "ファイルが見つかりませんでした。");
inline const Text kCannotCreate = QT_TRANSLATE_NOOP("Tolvex", "ファイルの作成に失敗しました。");
inline const Text kBadMode = QT_TRANSLATE_NOOP("Tolvex", "モード指定が不正です。");
inline const Text kWrongKey =
    QT_TRANSLATE_NOOP("Tolvex", "Tolvexファイルでは無いか、またはコードが間違っています。");
inline const Text kTemplateMissing = QT_TRANSLATE_NOOP("Tolvex", "設定ファイルがみつかりません。");
inline const Text kSameFile = QT_TRANSLATE_NOOP("Tolvex", "変換元と出力先とが同じファイルです。");
inline const Text kNoPassphrase = QT_TRANSLATE_NOOP("Tolvex", "パスフレーズが入力されていません");
inline const Text kPassphraseTooLong =
    QT_TRANSLATE_NOOP("Tolvex", "パスフレーズが長すぎます（4096バイトまでです）。");
inline const Text kConfirmPassphrase =
    QT_TRANSLATE_NOOP("Tolvex", "確認のため、パスフレーズをもう一度入れてください。");
inline const Text kPassphraseMismatch = QT_TRANSLATE_NOOP("Tolvex", "パスフレーズが一致しません。");
inline const Text kNotOursOrPassphrase =
    QT_TRANSLATE_NOOP("Tolvex", "Tolvexファイルでは無いか、またはパスフレーズが間違っています。");
inline const Text kWrongPassphrase =
    QT_TRANSLATE_NOOP("Tolvex", "パスフレーズが違うか、ファイルが壊れています。");
// The finish reports; %1 is the time taken.
inline const Text kFinished = QT_TRANSLATE_NOOP("Tolvex", "処理が終了しました。\r所要時間：%1秒");
inline const Text kFinishedGood =
    QT_TRANSLATE_NOOP("Tolvex", "処理が終了しました。\r所要時間：%1秒\r ファイルチェック:GOOD");
inline const Text kFinishedBad =
    QT_TRANSLATE_NOOP("Tolvex", "処理が終了しました。\r所要時間：%1秒\r ファイルチェック:BAD");

// Jobs.
inline const Text kPackFailed = QT_TRANSLATE_NOOP("Tolvex", "ファイルの圧縮に失敗しました。");
inline const Text kNoArchive = QT_TRANSLATE_NOOP("Tolvex", "圧縮に失敗しました");
inline const Text kLzhWithoutArchiver =
    Text(QT_TRANSLATE_NOOP("Tolvex",
                           "復号化したファイルはlzhファイルですが、%1が無いため、解凍できません。"
                           "\r\r DLLを入れるか、DLL不要のソフトを使って解凍してください。"))
        .arg(kArchiverLibraryFile);
inline const Text kOfferExtract =
    QT_TRANSLATE_NOOP("Tolvex", "復号化したファイルはlzhファイルです。\r解凍しますか？");
inline const Text kExtractFailed = QT_TRANSLATE_NOOP("Tolvex", "ファイルの解凍に失敗しました。");
inline const Text kOfferDelete = QT_TRANSLATE_NOOP(
    "Tolvex", "ファイルを解凍しました。\r解凍し終わったlzhファイルを削除しますか？");

// Archiver bridge.
inline const Text kArchiverBusy =
    Text(QT_TRANSLATE_NOOP("Tolvex",
                           "現在、%1は使用中です。\r Unlhaを使用するソフトを終了させてください。"))
        .arg(kArchiverLibraryFile);
inline const Text kFileNotFound = QT_TRANSLATE_NOOP("Tolvex", "ファイルが見つかりません");

// Input selection.
inline const Text kDropAFile = QT_TRANSLATE_NOOP("Tolvex", "ファイルをドロップして下さい。");
inline const Text kDropAFileUncompressed = QT_TRANSLATE_NOOP(
    "Tolvex", "非圧縮モードで暗号化する場合は、\r ファイルをドロップして下さい。");

// Start-up.
inline const Text kAlreadyRunning = QT_TRANSLATE_NOOP("Tolvex", "既に起動しています。");
inline Text missingFile(const QString &name) {
    return Text(QT_TRANSLATE_NOOP(
                    "Tolvex",
                    "%1が見つかりません。\rファイルを確認するか、再インストールしてください。"))
        .arg(name);
}

} // namespace texts
