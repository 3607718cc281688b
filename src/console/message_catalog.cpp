#include "message_catalog.h"

#include "run_settings.h"

// Texts hold no placeholders: callers write the subject (an argument, a
// path, a count) first and append the text, which brings its own " - ",
// ": " or leading blank.
const MessageCatalog message_catalog = {{
    {msg_usage, {
        L"ファイルをコピーします。\n"
        L"\n"
        L"Tolvi [/a] [/e | /p] [/f] [/m[r]] [/r] [/u] [/h] [/c] [/l | /q | /t | /v] コピー元 [コピー先]\n"
        L"      /a 属性はコピーしない\n"
        L"      /e 存在するファイルのみコピーする\n"
        L"      /p 新規コピーの確認をする\n"
        L"      /f 上書き確認なし\n"
        L"      /m ファイルを移動する\n"
        L"         r 読み取り専用ファイルも移動する\n"
        L"      /r 読み取り専用ファイルも上書きする\n"
        L"      /u 新しいファイルのみコピーする\n"
        L"      /h 隠し属性およびシステム属性も含める\n"
        L"      /c ファイル作成日時を維持する\n"
        L"      /l コピーしたファイルの数だけ表示する\n"
        L"      /q 表示なし、上書き確認なし\n"
        L"      /t コピー先を表示する\n"
        L"      /v 詳細表示\n",
        L"Copy files.\n"
        L"\n"
        L"Tolvi [/a] [/e | /p] [/f] [/m[r]] [/r] [/u] [/h] [/c] [/l | /q | /t | /v] source [destination]\n"
        L"      /a Do not copy attribute\n"
        L"      /e Copy only file which exist\n"
        L"      /p Promp for new copy\n"
        L"      /f No overwrite prompt\n"
        L"      /m Move file\n"
        L"         r Move read only file also\n"
        L"      /r Overwrite read only file also\n"
        L"      /u Copy only newer file\n"
        L"      /h Include hidden and system attribute\n"
        L"      /c Keep file create date/time\n"
        L"      /l Display only number of files copied\n"
        L"      /q No display, no overwrite prompt\n"
        L"      /t Display copy destination\n"
        L"      /v Verbose\n"}},
    {msg_param_invalid, {L" - パラメータが正しくありません。", L" - Parameter is invalid."}},
    {msg_param_empty, {L"空のパラメータが指定されています。", L"Empty parameter is specified."}},
    {msg_param_conflict, {L" - パラメータは一緒に使うことはできません。", L" - Parameter is not able to use together."}},
    {msg_source_missing, {L"コピー元のパラメータが指定されていません。", L"Copy source parameter is not specified."}},
    {msg_name_invalid, {L" - ファイル名またはフォルダ名が正しくありません。", L" - File name or folder name is invalid."}},
    {msg_not_file_or_folder, {L" - ファイルまたはフォルダではありません。", L" - Not a file or folder."}},
    {msg_folder_not_found, {L" - フォルダが見つかりませんでした。", L" - Folder was not found."}},
    {msg_file_not_found, {L" - ファイルが見つかりませんでした。", L" - File was not found."}},
    {msg_file_name_invalid, {L" - ファイル名が正しくありません。", L" - File name is invalid."}},
    {msg_file_or_folder_not_found, {L" - ファイルまたはフォルダが見つかりませんでした。", L" - File or folder was not found."}},
    {msg_same_file, {L"同じファイルが指定されました。", L"Same file was specified."}},
    {msg_wildcard_dest_name, {L"ワイルドカードを使ったコピーはコピー先のファイル名は指定できません。",
                              L"Cannot specify destination file name when using wildcard copy."}},
    {msg_same_folder, {L"同じフォルダにはコピーできません。", L"Cannot copy to same folder."}},
    {msg_read_only, {L" - 読み取り専用ファイルです。", L" - Read only file."}},
    {msg_hidden_system, {L" - 隠し属性およびシステム属性のファイルです。", L" - Hidden or system attribute file."}},
    {msg_write_prohibited, {L" - 上書き禁止ファイルです。", L" - Write prohibited file."}},
    {msg_attr_error, {L" - 属性変更でエラーが発生しました。", L" - Error during changing attributes."}},
    {msg_rename_error, {L" - 名前変更でエラーが発生しました。", L" - Error during changing file name."}},
    {msg_delete_error, {L" - 削除でエラーが発生しました。", L" - Error during delete."}},
    {msg_copy_error, {L" - コピーでエラーが発生しました。", L" - Error during copy."}},
    {msg_ask_copy, {L": コピーしますか？", L": Copy?"}},
    {msg_ask_overwrite, {L": 上書きしますか？", L": Overwrite?"}},
    {msg_count_moved, {L" 個のファイルを移動しました。", L" file(s) moved."}},
    {msg_count_copied, {L" 個のファイルをコピーしました。", L" file(s) copied."}},
    {msg_count_moved_over, {L" 個のファイルを上書き移動しました。", L" file(s) moved over."}},
    {msg_count_copied_over, {L" 個のファイルを上書きコピーしました。", L" file(s) copied over."}},
    {msg_open_error, {L" - ファイルを開けませんでした。", L" - File was not able to open."}},
    {msg_time_error, {L" - ファイル日時設定でエラーが発生しました。", L" - Error during setting file date/time."}},
    {msg_overwrite_not_asked, {L" - 上書きの確認ができませんでした。", L" - Overwrite question could not be asked."}},
    {msg_copy_not_asked, {L" - コピーの確認ができませんでした。", L" - Copy question could not be asked."}},
    {msg_folder_unreadable, {L" - フォルダを読み取れませんでした。", L" - Folder could not be read."}},
    {msg_leftover_in_the_way, {L" - 中断されたコピーの一時ファイルを削除できません。削除してからもう一度実行してください。",
                               L" - Temporary file of an interrupted copy cannot be removed. Remove it and run again."}},
    {msg_new_copy_in_staging, {L" - 新しいファイルはこの一時ファイルに残っています。元の名前に変更してください。",
                               L" - New file was left in this temporary file. Rename it to its own name."}},
    {msg_old_copy_renamed, {L" - 古いファイルはシステムが付けた別の名前で同じフォルダに残っています。",
                            L" - Old file was left in the same folder under a name the system chose."}},
}};

std::wstring_view message_text(MessageId id)
{
    return message_catalog[static_cast<std::size_t>(id)].text[settings.language];
}
