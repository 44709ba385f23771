<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Tolvex</name>
    <message>
        <source>ここにドラッグ＆ドロップして下さい。</source>
        <translation>Drag and drop here.</translation>
    </message>
    <message>
        <source>保存場所を決めてください</source>
        <translation>Choose where to save</translation>
    </message>
    <message>
        <source>暗号化</source>
        <translation>Encrypt</translation>
    </message>
    <message>
        <source>復号化</source>
        <translation>Decrypt</translation>
    </message>
    <message>
        <source>圧縮有効</source>
        <translation>Compress</translation>
    </message>
    <message>
        <source>%1 未導入</source>
        <translation>%1 missing</translation>
    </message>
    <message>
        <source>前面表示</source>
        <translation>On top</translation>
    </message>
    <message>
        <source>設定保存</source>
        <translation>Save settings</translation>
    </message>
    <message>
        <source>偽装モード設定</source>
        <translation>Disguise</translation>
    </message>
    <message>
        <source>偽装なし(.tvx)</source>
        <translation>None (.tvx)</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>デフォルトに戻す</source>
        <translation>Default location</translation>
    </message>
    <message>
        <source>↓作成するファイル名(拡張子は自動で付きます)</source>
        <translation>↓ Name of the file to create (the extension is added automatically)</translation>
    </message>
    <message>
        <source>←にキーを入れてください。</source>
        <translation>← Enter the key here.</translation>
    </message>
    <message>
        <source>*使える文字は「数字(0-9)」と「A-Fの英字」です。&#x3000;*文字数は8文字以下です。</source>
        <translation>*Digits 0-9 and letters A-F only.  *At most 8 characters.</translation>
    </message>
    <message>
        <source>保存場所</source>
        <translation>Save location</translation>
    </message>
    <message>
        <source>↓ファイル名</source>
        <translation>↓ File name</translation>
    </message>
    <message>
        <source>↓に変換するファイルを入れてください</source>
        <translation>↓ Put the file to convert below</translation>
    </message>
    <message>
        <source>↓に変換するファイル or フォルダを入れてください</source>
        <translation>↓ Put the file or folder to convert below</translation>
    </message>
    <message>
        <source>↓として暗号化したファイルを保存します</source>
        <translation>↓ Save the encrypted file as</translation>
    </message>
    <message>
        <source>↓として復号化したファイルを保存します</source>
        <translation>↓ Save the decrypted file as</translation>
    </message>
    <message>
        <source>Tolvex v3.10  &lt;暗号化中&gt;</source>
        <translation>Tolvex v3.10  &lt;encrypting&gt;</translation>
    </message>
    <message>
        <source>Tolvex v3.10  &lt;復号化中&gt;</source>
        <translation>Tolvex v3.10  &lt;decrypting&gt;</translation>
    </message>
    <message>
        <source>エラー</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>報告</source>
        <translation>Report</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>実行エラー</source>
        <translation>Run-time error</translation>
    </message>
    <message>
        <source>ファイルエラー</source>
        <translation>File error</translation>
    </message>
    <message>
        <source>lzhの処理ができません。</source>
        <translation>Cannot handle the LZH file</translation>
    </message>
    <message>
        <source>キーコードが入力されていません</source>
        <translation>No key code has been entered.</translation>
    </message>
    <message>
        <source>ファイルの名前が入力されていません</source>
        <translation>No file name has been entered.</translation>
    </message>
    <message>
        <source>保存するファイルの名前が入力されていません</source>
        <translation>No name has been entered for the file to save.</translation>
    </message>
    <message>
        <source>既に存在しているファイルに書き込もうとしました。<byte value="xd"/>上書きしますか？</source>
        <translation>The file to write exists already.<byte value="xd"/>Overwrite it?</translation>
    </message>
    <message>
        <source>ファイルが見つかりませんでした。</source>
        <translation>The file was not found.</translation>
    </message>
    <message>
        <source>ファイルの作成に失敗しました。</source>
        <translation>The file could not be created.</translation>
    </message>
    <message>
        <source>モード指定が不正です。</source>
        <translation>The mode is not valid.</translation>
    </message>
    <message>
        <source>Tolvexファイルでは無いか、またはコードが間違っています。</source>
        <translation>This is not a Tolvex file, or the key is wrong.</translation>
    </message>
    <message>
        <source>Tolvexファイルでは無いか、またはパスフレーズが間違っています。</source>
        <translation>This is not a Tolvex file, or the passphrase is wrong.</translation>
    </message>
    <message>
        <source>設定ファイルがみつかりません。</source>
        <translation>The settings file (Tolvex.dat) was not found.</translation>
    </message>
    <message>
        <source>変換元と出力先とが同じファイルです。</source>
        <translation>The source and the output are the same file.</translation>
    </message>
    <message>
        <source>処理が終了しました。<byte value="xd"/>所要時間：%1秒</source>
        <translation>Done.<byte value="xd"/>Time taken: %1 s</translation>
    </message>
    <message>
        <source>処理が終了しました。<byte value="xd"/>所要時間：%1秒<byte value="xd"/> ファイルチェック:GOOD</source>
        <translation>Done.<byte value="xd"/>Time taken: %1 s<byte value="xd"/> File check: GOOD</translation>
    </message>
    <message>
        <source>処理が終了しました。<byte value="xd"/>所要時間：%1秒<byte value="xd"/> ファイルチェック:BAD</source>
        <translation>Done.<byte value="xd"/>Time taken: %1 s<byte value="xd"/> File check: BAD</translation>
    </message>
    <message>
        <source>ファイルの圧縮に失敗しました。</source>
        <translation>Compressing the input failed.</translation>
    </message>
    <message>
        <source>圧縮に失敗しました</source>
        <translation>Compression failed.</translation>
    </message>
    <message>
        <source>復号化したファイルはlzhファイルですが、%1が無いため、解凍できません。<byte value="xd"/><byte value="xd"/> DLLを入れるか、DLL不要のソフトを使って解凍してください。</source>
        <translation>The decrypted file is an LZH archive, but without %1 it cannot be extracted.<byte value="xd"/><byte value="xd"/> Install the library, or extract it with another archiver.</translation>
    </message>
    <message>
        <source>復号化したファイルはlzhファイルです。<byte value="xd"/>解凍しますか？</source>
        <translation>The decrypted file is an LZH archive.<byte value="xd"/>Extract it?</translation>
    </message>
    <message>
        <source>ファイルの解凍に失敗しました。</source>
        <translation>Extracting the archive failed.</translation>
    </message>
    <message>
        <source>ファイルを解凍しました。<byte value="xd"/>解凍し終わったlzhファイルを削除しますか？</source>
        <translation>The archive was extracted.<byte value="xd"/>Delete the extracted LZH file?</translation>
    </message>
    <message>
        <source>現在、%1は使用中です。<byte value="xd"/> Unlhaを使用するソフトを終了させてください。</source>
        <translation>%1 is in use.<byte value="xd"/> Close the program that uses it.</translation>
    </message>
    <message>
        <source>ファイルが見つかりません</source>
        <translation>File not found</translation>
    </message>
    <message>
        <source>ファイルをドロップして下さい。</source>
        <translation>Please drop a file.</translation>
    </message>
    <message>
        <source>非圧縮モードで暗号化する場合は、<byte value="xd"/> ファイルをドロップして下さい。</source>
        <translation>To encrypt without compression,<byte value="xd"/> please drop a file.</translation>
    </message>
    <message>
        <source>既に起動しています。</source>
        <translation>Tolvex is running already.</translation>
    </message>
    <message>
        <source>%1が見つかりません。<byte value="xd"/>ファイルを確認するか、再インストールしてください。</source>
        <translation>%1 was not found.<byte value="xd"/>Check the file, or install Tolvex again.</translation>
    </message>
    <message>
        <source>強力</source>
        <translation>Strong</translation>
    </message>
    <message>
        <source>パスフレーズから導いた鍵で暗号化します（Argon2id と XChaCha20-Poly1305）。<byte value="xd"/>復号化では、キーの欄にパスフレーズを入れます（旧形式の強力ファイルは自動で判別します）。</source>
        <translation>Encrypts under a key derived from a passphrase (Argon2id and XChaCha20-Poly1305).<byte value="xd"/>When decrypting, the key box takes the passphrase (older strong files are recognised by themselves).</translation>
    </message>
    <message>
        <source>←にパスフレーズを入れてください。</source>
        <translation>← Enter the passphrase here.</translation>
    </message>
    <message>
        <source>*パスフレーズを忘れると、ファイルは二度と元に戻せません。</source>
        <translation>*A forgotten passphrase cannot be recovered, and neither can the file.</translation>
    </message>
    <message>
        <source>パスフレーズが入力されていません</source>
        <translation>No passphrase has been entered.</translation>
    </message>
    <message>
        <source>パスフレーズが長すぎます（4096バイトまでです）。</source>
        <translation>The passphrase is too long (at most 4096 bytes).</translation>
    </message>
    <message>
        <source>確認のため、パスフレーズをもう一度入れてください。</source>
        <translation>Enter the passphrase once more, to confirm it.</translation>
    </message>
    <message>
        <source>パスフレーズが一致しません。</source>
        <translation>The passphrases do not match.</translation>
    </message>
    <message>
        <source>パスフレーズが違うか、ファイルが壊れています。</source>
        <translation>Wrong passphrase, or the file is damaged.</translation>
    </message>
</context>
</TS>
