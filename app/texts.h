// Every text the window shows: captions, labels and messages, exactly as the user sees them.
// Lines within one message are separated by a single carriage return (13).
#pragma once

#include <QString>

namespace texts {

inline const QString CR = QStringLiteral("\r");

// Library file names as this platform spells them; messages name them the same way.
inline const QString kCodecLibraryFile = QStringLiteral("libHalvet_Tolvex.so");
inline const QString kArchiverLibraryFile = QStringLiteral("libunlha32.so");
inline const QString kTemplateFile = QStringLiteral("Tolvex.dat");

// Captions.
inline const QString kIdleCaption = QStringLiteral("Tolvex v3.10");
inline const QString kDropPrompt = QStringLiteral("ここにドラッグ＆ドロップして下さい。");
inline const QString kLocationPrompt = QStringLiteral("保存場所を決めてください");
inline const QString kDefaultName = QStringLiteral("Tolvex");
inline const QString kEncrypt = QStringLiteral("暗号化");
inline const QString kDecrypt = QStringLiteral("復号化");
inline const QString kCompression = QStringLiteral("圧縮有効");
inline const QString kArchiverMissingLabel = kArchiverLibraryFile + QStringLiteral(" 未導入");
inline const QString kKeepInFront = QStringLiteral("前面表示");
inline const QString kSaveSettings = QStringLiteral("設定保存");
inline const QString kDisguiseFrame = QStringLiteral("偽装モード設定");
inline const QString kNoDisguise = QStringLiteral("偽装なし(.tvx)");
inline const QString kAuto = QStringLiteral("AUTO");
inline const QString kStart = QStringLiteral("START");
inline const QString kBrowse = QStringLiteral("参照");
inline const QString kBackToDefault = QStringLiteral("デフォルトに戻す");
inline const QString kOutputNameLabel =
    QStringLiteral("↓作成するファイル名(拡張子は自動で付きます)");
inline const QString kKeyLabel = QStringLiteral("←にキーを入れてください。");
inline const QString kKeyHint =
    QStringLiteral("*使える文字は「数字(0-9)」と「A-Fの英字」です。　*文字数は8文字以下です。");
inline const QString kSaveLocation = QStringLiteral("保存場所");
inline const QString kFileNameLabel = QStringLiteral("↓ファイル名");
inline const QString kCredit = QStringLiteral("Tolvex by Halvet");
inline const QString kFolderClause = QStringLiteral(" or フォルダ");

// Titles.
inline const QString kError = QStringLiteral("エラー");
inline const QString kReport = QStringLiteral("報告");
inline const QString kConfirm = QStringLiteral("確認");
inline const QString kRunError = QStringLiteral("実行エラー");
inline const QString kFileError = QStringLiteral("ファイルエラー");
inline const QString kCannotProcessLzh = QStringLiteral("lzhの処理ができません。");

// Start command.
inline const QString kNoKey = QStringLiteral("キーコードが入力されていません");
inline const QString kNoFileName = QStringLiteral("ファイルの名前が入力されていません");
inline const QString kNoOutputName = QStringLiteral("保存するファイルの名前が入力されていません");
inline const QString kOverwrite =
    QStringLiteral("既に存在しているファイルに書き込もうとしました。") + CR +
    QStringLiteral("上書きしますか？");
inline const QString kSourceMissing = QStringLiteral("ファイルが見つかりませんでした。");
inline const QString kCannotCreate = QStringLiteral("ファイルの作成に失敗しました。");
inline const QString kBadMode = QStringLiteral("モード指定が不正です。");
inline const QString kWrongKey =
    QStringLiteral("Tolvexファイルでは無いか、またはコードが間違っています。");
inline const QString kTemplateMissing = QStringLiteral("設定ファイルがみつかりません。");
inline const QString kSameFile = QStringLiteral("変換元と出力先とが同じファイルです。");
inline const QString kFinished = QStringLiteral("処理が終了しました。");
inline const QString kTimeTaken = QStringLiteral("所要時間：");
inline const QString kSeconds = QStringLiteral("秒");
inline const QString kCheckGood = QStringLiteral(" ファイルチェック:GOOD");
inline const QString kCheckBad = QStringLiteral(" ファイルチェック:BAD");

// Jobs.
inline const QString kPackFailed = QStringLiteral("ファイルの圧縮に失敗しました。");
inline const QString kNoArchive = QStringLiteral("圧縮に失敗しました");
inline const QString kLzhWithoutArchiver =
    QStringLiteral("復号化したファイルはlzhファイルですが、") + kArchiverLibraryFile +
    QStringLiteral("が無いため、解凍できません。") + CR + CR +
    QStringLiteral(" DLLを入れるか、DLL不要のソフトを使って解凍してください。");
inline const QString kOfferExtract =
    QStringLiteral("復号化したファイルはlzhファイルです。") + CR + QStringLiteral("解凍しますか？");
inline const QString kExtractFailed = QStringLiteral("ファイルの解凍に失敗しました。");
inline const QString kOfferDelete = QStringLiteral("ファイルを解凍しました。") + CR +
                                    QStringLiteral("解凍し終わったlzhファイルを削除しますか？");

// Archiver bridge.
inline const QString kArchiverBusy = QStringLiteral("現在、") + kArchiverLibraryFile +
                                     QStringLiteral("は使用中です。") + CR +
                                     QStringLiteral(" Unlhaを使用するソフトを終了させてください。");
inline const QString kFileNotFound = QStringLiteral("ファイルが見つかりません");

// Input selection.
inline const QString kDropAFile = QStringLiteral("ファイルをドロップして下さい。");
inline const QString kDropAFileUncompressed = QStringLiteral("非圧縮モードで暗号化する場合は、") +
                                              CR +
                                              QStringLiteral(" ファイルをドロップして下さい。");

// Start-up.
inline const QString kAlreadyRunning = QStringLiteral("既に起動しています。");
inline QString missingFile(const QString &name) {
    return name + QStringLiteral("が見つかりません。") + CR +
           QStringLiteral("ファイルを確認するか、再インストールしてください。");
}

} // namespace texts
