// The bilingual message catalogue. Every text the tool shows a user exists
// in Japanese and in English; the run's language picks one of each pair.
#pragma once

#include <array>
#include <string_view>

enum Language : int { language_japanese = 0, language_english = 1 };

enum MessageId : int {
    msg_usage,
    msg_param_invalid,
    msg_param_empty,
    msg_param_conflict,
    msg_source_missing,
    msg_name_invalid,
    msg_not_file_or_folder,
    msg_folder_not_found,
    msg_file_not_found,
    msg_file_name_invalid,
    msg_file_or_folder_not_found,
    msg_same_file,
    msg_wildcard_dest_name,
    msg_same_folder,
    msg_read_only,
    msg_hidden_system,
    msg_write_prohibited,
    msg_attr_error,
    msg_rename_error,
    msg_delete_error,
    msg_copy_error,
    msg_ask_copy,
    msg_ask_overwrite,
    msg_count_moved,
    msg_count_copied,
    msg_count_moved_over,
    msg_count_copied_over,
    msg_open_error,
    msg_time_error,
    msg_overwrite_not_asked,
    msg_copy_not_asked,
    msg_folder_unreadable,
    msg_leftover_in_the_way,
    msg_new_copy_in_staging,
    msg_old_copy_renamed,
    message_id_count
};

struct MessagePair {
    MessageId id;                 // the row's own id, checked against its index
    const wchar_t* text[2];       // indexed by Language
};

using MessageCatalog = std::array<MessagePair, message_id_count>;

extern const MessageCatalog message_catalog;

// The text of `id` in the run's language (settings.language).
std::wstring_view message_text(MessageId id);
