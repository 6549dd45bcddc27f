/* SPDX-License-Identifier: MIT */
/* A C host built against the installed header and library only: sends FILE
 * to ADDRESS silently and prints what the Broker answered. */
#include <mailbroker/mailbroker.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: installed_host FILE ADDRESS\n");
        return 2;
    }
    const char *files[] = {argv[1], NULL};
    const char *to[] = {argv[2], NULL};
    mailbroker *mb = mailbroker_new();
    mailbroker_result *sent = NULL, *profile = NULL;
    mailbroker_error e = mailbroker_start(mb, NULL);
    if (e == MAILBROKER_OK)
        e = mailbroker_send_mail(mb, to, NULL, NULL, "From an installed host", "See the file.",
                                 files, MAILBROKER_SEND_SILENT, 0, &sent);
    if (e == MAILBROKER_OK)
        e = mailbroker_auto_complete_file_name(mb, &profile);
    if (e != MAILBROKER_OK) {
        fprintf(stderr, "installed_host: %s: %s\n", mailbroker_error_name(e),
                mailbroker_last_error_message(mb));
        mailbroker_close(mb);
        return 1;
    }
    printf("version=%s\nstatus=%s\nresult=%d\nprofile=%s\n", mailbroker_version(),
           mailbroker_result_status_name(sent), (int)mailbroker_result_result(sent),
           mailbroker_result_display_name(profile));
    int ok = mailbroker_result_succeeded(sent);
    mailbroker_result_free(sent);
    mailbroker_result_free(profile);
    mailbroker_close(mb);
    return ok ? 0 : 1;
}
