/*
 * DefaultOptions.c --
 *
 *	Linked into every program of a -DBQ_SANITIZE=ON build.  The
 *	sanitizer runtimes ask these hooks for their options before they
 *	read ASAN_OPTIONS, LSAN_OPTIONS and UBSAN_OPTIONS, so the options set
 *	in cmake/Sanitize.cmake hold however the program is started, and a
 *	variable in the environment still overrides them.
 */

const char *__asan_default_options(void);
const char *__lsan_default_options(void);
const char *__ubsan_default_options(void);

const char *
__asan_default_options(void)
{
    return BQ_ASAN_OPTIONS;
}

const char *
__lsan_default_options(void)
{
    return BQ_LSAN_OPTIONS;
}

const char *
__ubsan_default_options(void)
{
    return BQ_UBSAN_OPTIONS;
}
