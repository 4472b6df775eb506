/* String-array functions the host process supplies at load time; the
 * library only declares them. */
#ifndef LOGBASE_HOST_STRINGS_H
#define LOGBASE_HOST_STRINGS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Splits `text` at any character of `delims` into a newly allocated
 * NULL-terminated array of element strings; NULL on failure. */
char **str2arr_quoted(char *text, const char *delims);
/* Releases an array from str2arr_quoted with all its elements. */
void arr_free(char **arr);
/* Strips leading and trailing blanks of the `len` bytes at `s` in place and
 * returns the start of the trimmed, NUL-terminated text. */
char *trim_both(char *s, int len);

#ifdef __cplusplus
}
#endif

#endif
