/* SPDX-License-Identifier: MIT */
/* Sends a file by mail through a Broker of its own: ten_lines FILE ADDRESS. */
#include <mailbroker/mailbroker.h>
#include <stdio.h>

int main(int argc, char **argv) {
    const char *files[] = {argv[1], NULL}, *to[] = {argv[2], NULL};
    mailbroker *mb = mailbroker_new();
    mailbroker_result *r = NULL;
    if (argc != 3 || mailbroker_start(mb, NULL) != MAILBROKER_OK ||
        mailbroker_send_mail(mb, to, NULL, NULL, "A file", "Attached.", files,
                             MAILBROKER_SEND_SILENT, 0, &r) != MAILBROKER_OK ||
        !mailbroker_result_succeeded(r)) {
        fprintf(stderr, "%s\n", r ? mailbroker_result_message(r) : mailbroker_last_error_message(mb));
        return 1;
    }
    mailbroker_result_free(r);
    mailbroker_close(mb);
    return 0;
}
