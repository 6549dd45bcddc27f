/* SPDX-License-Identifier: MIT */
/*
 * send-file: a window with a "Send by mail" button. The user picks a file and
 * the Broker opens the compose window with it attached, as a document viewer
 * would. `send-file --send FILE [--to ADDRESS]` sends FILE at once without a
 * window (a silent SendMail), for scripts and for machines without a display.
 */
#include <gtk/gtk.h>
#include <mailbroker/mailbroker.h>
#include <stdio.h>
#include <string.h>

/* Everything a host does to send a file by mail. 0 when it went. */
static int send_file(const char *path, const char *to, uint32_t flags)
{
    const char *files[] = {path, NULL}, *recipients[] = {to, NULL};
    mailbroker *mb = mailbroker_new();
    mailbroker_result *r = NULL;
    mailbroker_error e = mailbroker_start(mb, NULL);
    if (e == MAILBROKER_OK)
        e = mailbroker_send_mail(mb, to ? recipients : NULL, NULL, NULL, "A file for you", NULL,
                                 files, flags, 0, &r);
    int failed = e != MAILBROKER_OK || !mailbroker_result_succeeded(r);
    if (failed)
        fprintf(stderr, "send-file: %s\n",
                e != MAILBROKER_OK ? mailbroker_last_error_message(mb) : mailbroker_result_message(r));
    mailbroker_result_free(r);
    mailbroker_close(mb);
    return failed;
}

/* The window's part: the send runs on a thread of its own, since the Broker
 * may ask the user for a profile first, and the window must stay drawn. */
typedef struct {
    GtkLabel *status;
    char *path;
    int failed;
} SendJob;

static gboolean send_done(gpointer data)
{
    SendJob *job = data;
    gtk_label_set_text(job->status, job->failed ? "The file could not be sent (see the terminal)."
                                                : "The compose window has the file.");
    g_object_unref(job->status);
    g_free(job->path);
    g_free(job);
    return G_SOURCE_REMOVE;
}

static gpointer send_thread(gpointer data)
{
    SendJob *job = data;
    job->failed = send_file(job->path, NULL, 0);
    g_idle_add(send_done, job);
    return NULL;
}

static void file_chosen(GtkNativeDialog *dialog, int response, gpointer data)
{
    GtkLabel *status = data;
    if (response == GTK_RESPONSE_ACCEPT) {
        GFile *file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog));
        char *path = file ? g_file_get_path(file) : NULL;
        if (path != NULL) {
            SendJob *job = g_new0(SendJob, 1);
            job->status = g_object_ref(status);
            job->path = path;
            gtk_label_set_text(status, "Sending…");
            g_thread_unref(g_thread_new("send-file", send_thread, job));
        }
        g_clear_object(&file);
    }
    g_object_unref(dialog);
}

static void send_clicked(GtkButton *button, gpointer data)
{
    GtkWindow *window = GTK_WINDOW(gtk_widget_get_root(GTK_WIDGET(button)));
    GtkFileChooserNative *chooser = gtk_file_chooser_native_new(
        "Send by mail", window, GTK_FILE_CHOOSER_ACTION_OPEN, "_Send", "_Cancel");
    g_signal_connect(chooser, "response", G_CALLBACK(file_chosen), data);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

static void activate(GtkApplication *app, gpointer data)
{
    (void)data;
    GtkWidget *window = gtk_application_window_new(app);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    GtkWidget *button = gtk_button_new_with_mnemonic("_Send by mail…");
    GtkWidget *status = gtk_label_new("Choose a file to send.");
    gtk_window_set_title(GTK_WINDOW(window), "send-file");
    gtk_window_set_default_size(GTK_WINDOW(window), 320, 120);
    gtk_widget_set_margin_top(box, 24);
    gtk_widget_set_margin_bottom(box, 24);
    gtk_widget_set_margin_start(box, 24);
    gtk_widget_set_margin_end(box, 24);
    gtk_box_append(GTK_BOX(box), button);
    gtk_box_append(GTK_BOX(box), status);
    gtk_window_set_child(GTK_WINDOW(window), box);
    g_signal_connect(button, "clicked", G_CALLBACK(send_clicked), status);
    gtk_window_present(GTK_WINDOW(window));
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--send") == 0) {
        if (argc == 3)
            return send_file(argv[2], NULL, MAILBROKER_SEND_SILENT) ? 1 : 0;
        if (argc == 5 && strcmp(argv[3], "--to") == 0)
            return send_file(argv[2], argv[4], MAILBROKER_SEND_SILENT) ? 1 : 0;
        fprintf(stderr, "usage: send-file [--send FILE [--to ADDRESS]]\n");
        return 2;
    }
    GtkApplication *app = gtk_application_new("org.example.SendFile", G_APPLICATION_DEFAULT_FLAGS);
    g_signal_connect(app, "activate", G_CALLBACK(activate), NULL);
    int status = g_application_run(G_APPLICATION(app), argc, argv);
    g_object_unref(app);
    return status;
}
