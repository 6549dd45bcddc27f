// SPDX-License-Identifier: MIT
// gtk 4.8 is the floor: later deprecations (the completion, the file
// chooser) must not break -Werror on a newer GTK.
#define GDK_VERSION_MIN_REQUIRED GDK_VERSION_4_8
#include "dialogs/compose_window.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/compose_i18n.h"
#include "dialogs/compose_prompt.h"
#include "dialogs/draft_writer.h"
#include "dialogs/mail_submit.h"
#include "dialogs/recipient_list.h"
#include "dialogs/size_format.h"

namespace mb::dialogs {
namespace {

enum CompletionColumn { kShown, kInserted, kIndex, kColumns };
enum Choice { kKeep, kDiscard, kCancel };

struct Field {
    WellType type;
    const char* label;       // with its mnemonic
    const char* accessible;  // the control's name for assistive technology
};

constexpr Field kFields[] = {
    {WellType::To, N_("_To:"), N_("To")},
    {WellType::Cc, N_("_Cc:"), N_("Cc")},
    {WellType::Bcc, N_("_Bcc:"), N_("Bcc")},
};

void nameControl(GtkWidget* widget, const char* name) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
}

std::string entryText(GtkWidget* entry) { return gtk_editable_get_text(GTK_EDITABLE(entry)); }

class ComposeWindow {
  public:
    ComposeWindow(GtkApplication* app, const Request& request, std::function<void()> onShown)
        : app_(app), book_(request.book), profile_(request.profile), draftPath_(request.draft),
          onShown_(std::move(onShown)) {
        for (const Attachment& attachment : request.attachments) {
            attachments_.push_back({attachment.name, attachment.path});
        }
        build(request);
        dirty_ = false;  // the request's contents are what the draft holds
    }

    ~ComposeWindow() { *alive_ = false; }

    void present() { gtk_window_present(GTK_WINDOW(window_)); }

  private:
    GtkApplication* app_;
    std::vector<Entry> book_;
    std::string profile_;
    std::string draftPath_;
    std::function<void()> onShown_;
    std::vector<DraftAttachment> attachments_;

    GtkWidget* window_ = nullptr;
    GtkWidget* fields_[3] = {};
    GtkWidget* subject_ = nullptr;
    GtkWidget* body_ = nullptr;
    GtkWidget* attachmentList_ = nullptr;
    GtkWidget* addButton_ = nullptr;
    GtkWidget* removeButton_ = nullptr;
    GtkWidget* saveButton_ = nullptr;
    GtkWidget* sendButton_ = nullptr;
    GtkWidget* spinner_ = nullptr;
    GtkWidget* status_ = nullptr;
    bool dirty_ = false;
    bool sending_ = false;
    bool closing_ = false;
    MbMimeRenderFn render_ = nullptr;
    // Whether this object still exists, for a client that ends after the
    // window went some way other than its own close.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // --- building --------------------------------------------------------

    void build(const Request& request) {
        window_ = gtk_application_window_new(app_);
        gtk_window_set_title(GTK_WINDOW(window_), _("New Message"));
        gtk_window_set_default_size(GTK_WINDOW(window_), 680, 640);
        // The title shows the same on every desktop, a window manager or not.
        gtk_window_set_titlebar(GTK_WINDOW(window_), gtk_header_bar_new());
        g_object_set_data_full(G_OBJECT(window_), "mb-compose", this,
                               [](gpointer self) { delete static_cast<ComposeWindow*>(self); });

        GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
        for (auto setMargin : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom,
                               gtk_widget_set_margin_start, gtk_widget_set_margin_end}) {
            setMargin(outer, 12);
        }

        GtkWidget* grid = gtk_grid_new();
        gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
        gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
        int row = 0;
        for (const Field& field : kFields) {
            std::string text;
            for (const Recipient& person : request.recipients) {
                if (person.type == field.type) {
                    text += (text.empty() ? "" : ", ") + formatRecipient(person.name, person.address);
                }
            }
            GtkWidget* entry = addRow(grid, row++, _(field.label), _(field.accessible), text);
            fields_[static_cast<int>(field.type)] = entry;
            attachCompletion(entry);
        }
        subject_ = addRow(grid, row++, _("S_ubject:"), _("Subject"), request.subject);
        gtk_box_append(GTK_BOX(outer), grid);

        GtkWidget* bodyLabel = gtk_label_new_with_mnemonic(_("_Message:"));
        gtk_widget_set_halign(bodyLabel, GTK_ALIGN_START);
        gtk_box_append(GTK_BOX(outer), bodyLabel);
        body_ = gtk_text_view_new();
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(body_), GTK_WRAP_WORD_CHAR);
        // Tab moves on, so the keyboard can leave the body; Ctrl+Tab too.
        gtk_text_view_set_accepts_tab(GTK_TEXT_VIEW(body_), FALSE);
        gtk_text_view_set_left_margin(GTK_TEXT_VIEW(body_), 6);
        gtk_text_view_set_right_margin(GTK_TEXT_VIEW(body_), 6);
        gtk_text_view_set_top_margin(GTK_TEXT_VIEW(body_), 6);
        gtk_text_view_set_bottom_margin(GTK_TEXT_VIEW(body_), 6);
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(body_));
        gtk_text_buffer_set_text(buffer, request.body.c_str(), static_cast<int>(request.body.size()));
        g_signal_connect_swapped(buffer, "changed", G_CALLBACK(+[](ComposeWindow* self) {
                                     self->dirty_ = true;
                                 }),
                                 this);
        gtk_label_set_mnemonic_widget(GTK_LABEL(bodyLabel), body_);
        nameControl(body_, _("Message"));
        GtkWidget* bodyScroll = gtk_scrolled_window_new();
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(bodyScroll), body_);
        gtk_scrolled_window_set_has_frame(GTK_SCROLLED_WINDOW(bodyScroll), TRUE);
        gtk_widget_set_vexpand(bodyScroll, TRUE);
        gtk_box_append(GTK_BOX(outer), bodyScroll);

        buildAttachments(outer);
        buildActions(outer);
        gtk_window_set_child(GTK_WINDOW(window_), outer);
        addShortcuts();

        g_signal_connect_swapped(window_, "map", G_CALLBACK(+[](ComposeWindow* self) {
                                     if (self->onShown_) {
                                         auto shown = std::move(self->onShown_);
                                         self->onShown_ = nullptr;
                                         shown();
                                     }
                                 }),
                                 this);
        g_signal_connect_swapped(window_, "close-request", G_CALLBACK(+[](ComposeWindow* self) -> gboolean {
                                     return self->onCloseRequest();
                                 }),
                                 this);
        // The program serves this one window; whatever holds the
        // application, it ends with it.
        g_signal_connect_swapped(window_, "destroy", G_CALLBACK(+[](GApplication* app) {
                                     g_application_quit(app);
                                 }),
                                 app_);
        gtk_widget_grab_focus(fields_[0]);
        // Focus selects the whole field, and the first key typed would then
        // replace the recipients the request brought: the cursor goes to the end.
        gtk_editable_set_position(GTK_EDITABLE(fields_[0]), -1);
    }

    GtkWidget* addRow(GtkWidget* grid, int row, const char* label, const char* name,
                      const std::string& text) {
        GtkWidget* caption = gtk_label_new_with_mnemonic(label);
        gtk_widget_set_halign(caption, GTK_ALIGN_END);
        GtkWidget* entry = gtk_entry_new();
        gtk_editable_set_text(GTK_EDITABLE(entry), text.c_str());
        gtk_widget_set_hexpand(entry, TRUE);
        gtk_label_set_mnemonic_widget(GTK_LABEL(caption), entry);
        nameControl(entry, name);
        // Return in a field moves on instead of doing nothing.
        g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkEntry* self, gpointer) {
                             gtk_widget_child_focus(gtk_widget_get_ancestor(GTK_WIDGET(self), GTK_TYPE_WINDOW),
                                                    GTK_DIR_TAB_FORWARD);
                         }),
                         nullptr);
        g_signal_connect_swapped(entry, "changed", G_CALLBACK(+[](ComposeWindow* self) {
                                     self->dirty_ = true;
                                 }),
                                 this);
        gtk_grid_attach(GTK_GRID(grid), caption, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), entry, 1, row, 1, 1);
        return entry;
    }

    // --- completion ----------------------------------------------------------

    void attachCompletion(GtkWidget* entry) {
        if (book_.empty()) {
            return;
        }
        GtkListStore* store = gtk_list_store_new(kColumns, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT);
        for (std::size_t i = 0; i < book_.size(); ++i) {
            const Entry& person = book_[i];
            if (!person.isList() && person.address.empty()) {
                continue;  // nothing the field could hold
            }
            const std::string shown = person.isList()
                                          ? person.name + " " + _("(list)")
                                          : formatRecipient(person.name, person.address);
            const std::string inserted =
                person.isList() ? person.name : formatRecipient(person.name, person.address);
            GtkTreeIter iter;
            gtk_list_store_append(store, &iter);
            gtk_list_store_set(store, &iter, kShown, shown.c_str(), kInserted, inserted.c_str(),
                               kIndex, static_cast<int>(i), -1);
        }
        GtkEntryCompletion* completion = gtk_entry_completion_new();
        gtk_entry_completion_set_model(completion, GTK_TREE_MODEL(store));
        g_object_unref(store);
        gtk_entry_completion_set_text_column(completion, kShown);
        gtk_entry_completion_set_minimum_key_length(completion, 1);
        gtk_entry_completion_set_inline_completion(completion, FALSE);
        gtk_entry_completion_set_popup_single_match(completion, TRUE);
        gtk_entry_completion_set_match_func(
            completion,
            +[](GtkEntryCompletion* self, const char*, GtkTreeIter* iter, gpointer data) -> gboolean {
                auto* window = static_cast<ComposeWindow*>(data);
                GtkWidget* entry = gtk_entry_completion_get_entry(self);
                int index = -1;
                gtk_tree_model_get(gtk_entry_completion_get_model(self), iter, kIndex, &index, -1);
                if (entry == nullptr || index < 0 || static_cast<std::size_t>(index) >= window->book_.size()) {
                    return FALSE;
                }
                return entryMatches(window->book_[static_cast<std::size_t>(index)],
                                    typedPrefix(entry));
            },
            this, nullptr);
        g_signal_connect(completion, "match-selected",
                         G_CALLBACK(+[](GtkEntryCompletion* self, GtkTreeModel* model, GtkTreeIter* iter,
                                        gpointer) -> gboolean {
                             char* inserted = nullptr;
                             gtk_tree_model_get(model, iter, kInserted, &inserted, -1);
                             replaceCurrentEntry(gtk_entry_completion_get_entry(self), inserted);
                             g_free(inserted);
                             return TRUE;
                         }),
                         nullptr);
        gtk_entry_set_completion(GTK_ENTRY(entry), completion);
        g_object_unref(completion);
    }

    static std::size_t cursorByte(GtkWidget* entry, const std::string& text) {
        const int position = gtk_editable_get_position(GTK_EDITABLE(entry));
        const char* at = g_utf8_offset_to_pointer(text.c_str(), position);
        return static_cast<std::size_t>(at - text.c_str());
    }

    // What the person typed of the entry under the cursor.
    static std::string typedPrefix(GtkWidget* entry) {
        const std::string text = entryText(entry);
        const std::size_t cursor = std::min(cursorByte(entry, text), text.size());
        const WordSpan span = entryAt(text, cursor);
        return span.begin <= cursor ? text.substr(span.begin, cursor - span.begin) : std::string();
    }

    static void replaceCurrentEntry(GtkWidget* entry, const char* inserted) {
        const std::string text = entryText(entry);
        const WordSpan span = entryAt(text, std::min(cursorByte(entry, text), text.size()));
        std::string after = text.substr(span.end);
        // Ready for the next recipient: a separator follows unless one is there.
        const bool separatorFollows = after.find_first_not_of(" \t") != std::string::npos &&
                                      (after[after.find_first_not_of(" \t")] == ',' ||
                                       after[after.find_first_not_of(" \t")] == ';');
        const std::string replacement = std::string(inserted) + (separatorFollows ? "" : ", ");
        const std::string updated = text.substr(0, span.begin) + replacement + after;
        gtk_editable_set_text(GTK_EDITABLE(entry), updated.c_str());
        const std::string upTo = text.substr(0, span.begin) + replacement;
        gtk_editable_set_position(GTK_EDITABLE(entry),
                                  static_cast<int>(g_utf8_strlen(upTo.c_str(), static_cast<gssize>(upTo.size()))));
    }

    // --- attachments ---------------------------------------------------------

    void buildAttachments(GtkWidget* outer) {
        GtkWidget* caption = gtk_label_new_with_mnemonic(_("Attac_hments:"));
        gtk_widget_set_halign(caption, GTK_ALIGN_START);
        gtk_box_append(GTK_BOX(outer), caption);

        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        attachmentList_ = gtk_list_box_new();
        gtk_list_box_set_selection_mode(GTK_LIST_BOX(attachmentList_), GTK_SELECTION_SINGLE);
        gtk_label_set_mnemonic_widget(GTK_LABEL(caption), attachmentList_);
        nameControl(attachmentList_, _("Attachments"));
        GtkWidget* placeholder = gtk_label_new(_("No attachments"));
        gtk_widget_add_css_class(placeholder, "dim-label");
        gtk_list_box_set_placeholder(GTK_LIST_BOX(attachmentList_), placeholder);
        // The list itself takes no focus, its rows do: the mnemonic goes to
        // the selected row, else the first (selecting it, so that Delete
        // works at once), else to Add.
        g_signal_connect_swapped(attachmentList_, "mnemonic-activate",
                                 G_CALLBACK(+[](ComposeWindow* self, gboolean) -> gboolean {
                                     self->focusAttachments();
                                     return TRUE;
                                 }),
                                 this);
        g_signal_connect_swapped(attachmentList_, "selected-rows-changed",
                                 G_CALLBACK(+[](ComposeWindow* self) { self->updateRemove(); }), this);
        GtkEventController* keys = gtk_event_controller_key_new();
        g_signal_connect_swapped(keys, "key-pressed",
                                 G_CALLBACK(+[](ComposeWindow* self, guint key, guint, GdkModifierType mods) -> gboolean {
                                     if ((key == GDK_KEY_Delete || key == GDK_KEY_KP_Delete) &&
                                         (mods & GDK_MODIFIER_MASK & ~GDK_LOCK_MASK) == 0) {
                                         self->removeSelected();
                                         return TRUE;
                                     }
                                     return FALSE;
                                 }),
                                 this);
        gtk_widget_add_controller(attachmentList_, keys);

        GtkWidget* scroll = gtk_scrolled_window_new();
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroll), attachmentList_);
        gtk_scrolled_window_set_has_frame(GTK_SCROLLED_WINDOW(scroll), TRUE);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
        gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroll), 96);
        gtk_widget_set_hexpand(scroll, TRUE);
        gtk_box_append(GTK_BOX(row), scroll);

        GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
        addButton_ = gtk_button_new_with_mnemonic(_("_Add…"));
        GtkWidget* add = addButton_;
        nameControl(add, _("Add attachments"));
        g_signal_connect_swapped(add, "clicked", G_CALLBACK(+[](ComposeWindow* self) { self->chooseFiles(); }), this);
        removeButton_ = gtk_button_new_with_mnemonic(_("_Remove"));
        nameControl(removeButton_, _("Remove the selected attachment"));
        g_signal_connect_swapped(removeButton_, "clicked",
                                 G_CALLBACK(+[](ComposeWindow* self) { self->removeSelected(); }), this);
        gtk_box_append(GTK_BOX(buttons), add);
        gtk_box_append(GTK_BOX(buttons), removeButton_);
        gtk_box_append(GTK_BOX(row), buttons);
        gtk_box_append(GTK_BOX(outer), row);
        refreshAttachments();
    }

    void refreshAttachments() {
        while (GtkWidget* child = gtk_widget_get_first_child(attachmentList_)) {
            if (!GTK_IS_LIST_BOX_ROW(child)) {
                break;
            }
            gtk_list_box_remove(GTK_LIST_BOX(attachmentList_), child);
        }
        for (const DraftAttachment& attachment : attachments_) {
            const std::string size = formatSize(currentFileSize(attachment.path));
            GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
            for (auto setMargin : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom,
                                   gtk_widget_set_margin_start, gtk_widget_set_margin_end}) {
                setMargin(line, 4);
            }
            gtk_box_append(GTK_BOX(line), gtk_image_new_from_icon_name("mail-attachment-symbolic"));
            GtkWidget* name = gtk_label_new(attachment.name.c_str());
            gtk_label_set_ellipsize(GTK_LABEL(name), PANGO_ELLIPSIZE_MIDDLE);
            gtk_widget_set_hexpand(name, TRUE);
            gtk_label_set_xalign(GTK_LABEL(name), 0);
            gtk_box_append(GTK_BOX(line), name);
            GtkWidget* bytes = gtk_label_new(size.c_str());
            gtk_widget_add_css_class(bytes, "dim-label");
            gtk_box_append(GTK_BOX(line), bytes);
            GtkWidget* item = gtk_list_box_row_new();
            gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(item), line);
            gtk_widget_set_tooltip_text(item, attachment.path.c_str());
            nameControl(item, (attachment.name + ", " + size).c_str());
            gtk_list_box_append(GTK_LIST_BOX(attachmentList_), item);
        }
        updateRemove();
    }

    void focusAttachments() {
        GtkListBoxRow* row = gtk_list_box_get_selected_row(GTK_LIST_BOX(attachmentList_));
        if (row == nullptr) {
            row = gtk_list_box_get_row_at_index(GTK_LIST_BOX(attachmentList_), 0);
        }
        if (row == nullptr) {
            gtk_widget_grab_focus(addButton_);
            return;
        }
        gtk_list_box_select_row(GTK_LIST_BOX(attachmentList_), row);
        gtk_widget_grab_focus(GTK_WIDGET(row));
    }

    void updateRemove() {
        gtk_widget_set_sensitive(removeButton_,
                                 gtk_list_box_get_selected_row(GTK_LIST_BOX(attachmentList_)) != nullptr);
    }

    void removeSelected() {
        GtkListBoxRow* row = gtk_list_box_get_selected_row(GTK_LIST_BOX(attachmentList_));
        if (row == nullptr) {
            return;
        }
        const int index = gtk_list_box_row_get_index(row);
        if (index < 0 || static_cast<std::size_t>(index) >= attachments_.size()) {
            return;
        }
        attachments_.erase(attachments_.begin() + index);
        dirty_ = true;
        refreshAttachments();
        // Keep the keyboard in the list, on the row that took its place.
        const int count = static_cast<int>(attachments_.size());
        if (count > 0) {
            GtkListBoxRow* next = gtk_list_box_get_row_at_index(GTK_LIST_BOX(attachmentList_),
                                                                std::min(index, count - 1));
            gtk_list_box_select_row(GTK_LIST_BOX(attachmentList_), next);
            gtk_widget_grab_focus(GTK_WIDGET(next));
        }
    }

    void chooseFiles() {
        GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
            _("Attach Files"), GTK_WINDOW(window_), GTK_FILE_CHOOSER_ACTION_OPEN, _("_Attach"), _("_Cancel"));
        gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), TRUE);
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
        g_signal_connect(chooser, "response",
                         G_CALLBACK(+[](GtkNativeDialog* dialog, int response, gpointer data) {
                             auto* self = static_cast<ComposeWindow*>(data);
                             if (response == GTK_RESPONSE_ACCEPT) {
                                 GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
                                 for (guint i = 0; i < g_list_model_get_n_items(files); ++i) {
                                     auto* file = static_cast<GFile*>(g_list_model_get_item(files, i));
                                     if (char* path = g_file_get_path(file)) {
                                         char* base = g_path_get_basename(path);
                                         self->attachments_.push_back({base, path});
                                         g_free(base);
                                         g_free(path);
                                     }
                                     g_object_unref(file);
                                 }
                                 g_object_unref(files);
                                 self->dirty_ = true;
                                 self->refreshAttachments();
                             }
                             g_object_unref(dialog);
                         }),
                         this);
        gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
    }

    // --- actions ---------------------------------------------------------------

    void buildActions(GtkWidget* outer) {
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        gtk_widget_set_margin_top(row, 4);
        spinner_ = gtk_spinner_new();
        gtk_box_append(GTK_BOX(row), spinner_);
        status_ = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(status_), 0);
        gtk_label_set_ellipsize(GTK_LABEL(status_), PANGO_ELLIPSIZE_END);
        gtk_widget_set_hexpand(status_, TRUE);
        gtk_widget_add_css_class(status_, "dim-label");
        gtk_box_append(GTK_BOX(row), status_);
        saveButton_ = gtk_button_new_with_mnemonic(_("Save _Draft"));
        nameControl(saveButton_, _("Save the message in Drafts"));
        gtk_widget_set_tooltip_text(saveButton_, _("Keep the message in Drafts (Ctrl+S)"));
        g_signal_connect_swapped(saveButton_, "clicked", G_CALLBACK(+[](ComposeWindow* self) { self->save(); }), this);
        sendButton_ = gtk_button_new_with_mnemonic(_("_Send"));
        nameControl(sendButton_, _("Send the message"));
        gtk_widget_set_tooltip_text(sendButton_, _("Send the message (Ctrl+Return)"));
        gtk_widget_add_css_class(sendButton_, "suggested-action");
        g_signal_connect_swapped(sendButton_, "clicked", G_CALLBACK(+[](ComposeWindow* self) { self->send(); }), this);
        gtk_box_append(GTK_BOX(row), saveButton_);
        gtk_box_append(GTK_BOX(row), sendButton_);
        gtk_box_append(GTK_BOX(outer), row);
    }

    static void addShortcut(GtkEventController* controller, const char* trigger,
                            GtkShortcutFunc action, ComposeWindow* self) {
        gtk_shortcut_controller_add_shortcut(
            GTK_SHORTCUT_CONTROLLER(controller),
            gtk_shortcut_new(gtk_shortcut_trigger_parse_string(trigger),
                             gtk_callback_action_new(action, self, nullptr)));
    }

    void addShortcuts() {
        // Captured before the focused control sees them: the body would take
        // Ctrl+Return as a line break.
        GtkEventController* early = gtk_shortcut_controller_new();
        gtk_event_controller_set_propagation_phase(early, GTK_PHASE_CAPTURE);
        const GtkShortcutFunc send = +[](GtkWidget*, GVariant*, gpointer data) -> gboolean {
            static_cast<ComposeWindow*>(data)->send();
            return TRUE;
        };
        addShortcut(early, "<Control>Return", send, this);
        addShortcut(early, "<Control>KP_Enter", send, this);
        addShortcut(early, "<Control>s", +[](GtkWidget*, GVariant*, gpointer data) -> gboolean {
            static_cast<ComposeWindow*>(data)->save();
            return TRUE;
        }, this);
        const GtkShortcutFunc close = +[](GtkWidget*, GVariant*, gpointer data) -> gboolean {
            gtk_window_close(GTK_WINDOW(static_cast<ComposeWindow*>(data)->window_));
            return TRUE;
        };
        addShortcut(early, "<Control>w", close, this);
        gtk_widget_add_controller(window_, early);
        // Escape last, so that an open completion list closes first.
        GtkEventController* late = gtk_shortcut_controller_new();
        addShortcut(late, "Escape", close, this);
        gtk_widget_add_controller(window_, late);
    }

    void setStatus(const std::string& text) { gtk_label_set_text(GTK_LABEL(status_), text.c_str()); }

    std::vector<std::string> fieldEntries(WellType type) const {
        return splitRecipients(entryText(fields_[static_cast<int>(type)]));
    }

    std::string bodyText() const {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(body_));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        char* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
        std::string out(text);
        g_free(text);
        return out;
    }

    const Entry* listNamed(const std::string& name) const {
        for (const Entry& entry : book_) {
            if (entry.isList() && g_ascii_strcasecmp(entry.name.c_str(), name.c_str()) == 0) {
                return &entry;
            }
        }
        return nullptr;
    }

    DraftContent draftContent() const {
        DraftContent content;
        for (const Field& field : kFields) {
            for (const std::string& text : fieldEntries(field.type)) {
                const RecipientText person = parseRecipient(text);
                DraftRecipient recipient{field.type, person.name, person.address, {}};
                if (!person.hasAddress()) {
                    recipient.name = person.text;
                    if (const Entry* list = listNamed(person.text)) {
                        for (const Entry& member : list->members) {
                            if (!member.address.empty()) {
                                recipient.members.push_back({member.name, member.address});
                            }
                        }
                    }
                }
                content.recipients.push_back(std::move(recipient));
            }
        }
        content.subject = entryText(subject_);
        content.body = bodyText();
        content.attachments = attachments_;
        return content;
    }

    // Saves into Drafts; false (after saying why) when the draft could not
    // be written, the older draft then still in place.
    bool save() {
        if (sending_) {
            return false;
        }
        std::string error;
        if (render_ == nullptr) {
            render_ = loadRenderer(error);
        }
        std::string newPath;
        if (render_ == nullptr ||
            !DraftWriter(render_).save(draftContent(), draftPath_, newPath, error)) {
            setStatus(_("The draft was not saved."));
            showError(GTK_WINDOW(window_), _("Draft Not Saved"),
                      std::string(_("The message could not be saved in Drafts.")) + "\n\n" + error);
            return false;
        }
        draftPath_ = newPath;
        dirty_ = false;
        GDateTime* now = g_date_time_new_now_local();
        char* time = g_date_time_format(now, "%H:%M");
        setStatus(std::string(_("Saved in Drafts at")) + " " + time);
        g_free(time);
        g_date_time_unref(now);
        return true;
    }

    void send() {
        if (sending_) {
            return;
        }
        SubmitMessage message;
        std::vector<std::string> problems;
        std::size_t count = 0;
        for (const Field& field : kFields) {
            const std::vector<std::string> entries = fieldEntries(field.type);
            for (const std::string& problem : checkRecipients(entries)) {
                problems.push_back(problem);
            }
            std::vector<std::string>& into =
                field.type == WellType::To ? message.to : field.type == WellType::Cc ? message.cc : message.bcc;
            for (const std::string& entry : entries) {
                into.push_back(clientRecipient(parseRecipient(entry)));
                ++count;
            }
        }
        if (count == 0) {
            problems.push_back(_("Add at least one recipient in To, Cc or Bcc."));
        }
        if (!problems.empty()) {
            std::string text = _("The message was not sent:");
            for (const std::string& problem : problems) {
                text += "\n• " + problem;
            }
            showError(GTK_WINDOW(window_), _("Check the Recipients"), text);
            return;
        }
        message.subject = entryText(subject_);
        message.body = bodyText();
        std::string error;
        std::unique_ptr<SubmitFolder> folder = SubmitFolder::create(error);
        std::string bodyFile;
        std::vector<std::string> paths;
        if (folder) {
            bodyFile = folder->writeBody(message.body, error);
        }
        for (const DraftAttachment& attachment : attachments_) {
            if (!folder || bodyFile.empty()) {
                break;
            }
            const std::string path = folder->attachmentPath({attachment.name, attachment.path}, error);
            if (path.empty()) {
                bodyFile.clear();
                break;
            }
            paths.push_back(path);
        }
        if (!folder || bodyFile.empty()) {
            showError(GTK_WINDOW(window_), _("Message Not Sent"), error);
            return;
        }
        const std::string client = findClient(std::getenv("MAILBROKER_CLIENT"), programDirectory());
        setSending(true);
        runClient(clientArguments(client, message, bodyFile, paths), profile_, std::move(folder),
                  [this, alive = alive_](bool ok, const std::string& failure) {
                      if (*alive) {
                          sent(ok, failure);
                      }
                  });
    }

    void setSending(bool sending) {
        sending_ = sending;
        gtk_widget_set_sensitive(sendButton_, !sending);
        gtk_widget_set_sensitive(saveButton_, !sending);
        if (sending) {
            gtk_spinner_start(GTK_SPINNER(spinner_));
            setStatus(_("Sending…"));
        } else {
            gtk_spinner_stop(GTK_SPINNER(spinner_));
        }
    }

    void sent(bool ok, const std::string& failure) {
        setSending(false);
        if (!ok) {
            setStatus(_("The message was not sent."));
            showError(GTK_WINDOW(window_), _("Message Not Sent"),
                      std::string(_("The message could not be sent; it stays in this window and in Drafts.")) +
                          "\n\n" + failure);
            return;
        }
        if (!draftPath_.empty()) {
            ::unlink(draftPath_.c_str());
        }
        closeNow();
    }

    // --- closing ---------------------------------------------------------------

    gboolean onCloseRequest() {
        if (closing_) {
            return FALSE;
        }
        if (sending_) {
            setStatus(_("Sending… the window closes once the message is sent."));
            return TRUE;
        }
        showPrompt(GTK_WINDOW(window_), _("Keep This Message?"),
                   _("Keep this message in Drafts?"),
                   {{_("_Keep"), kKeep}, {_("_Discard"), kDiscard}, {_("_Cancel"), kCancel}}, kCancel, 0,
                   [this](int choice) {
                       if (choice == kKeep && (!dirty_ || save())) {
                           closeNow();
                       } else if (choice == kDiscard) {
                           if (!draftPath_.empty()) {
                               ::unlink(draftPath_.c_str());
                           }
                           closeNow();
                       }
                   });
        return TRUE;
    }

    void closeNow() {
        closing_ = true;
        gtk_window_destroy(GTK_WINDOW(window_));
    }
};

}  // namespace

void presentComposeWindow(GtkApplication* app, const Request& request, std::function<void()> onShown) {
    // Owned by its window from here on (deleted with it).
    auto* window = new ComposeWindow(app, request, std::move(onShown));
    window->present();
}

}  // namespace mb::dialogs
