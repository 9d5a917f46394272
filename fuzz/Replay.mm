/*
 * Replay.mm --
 *
 *	Runs the fuzz target over every file of the directories (or the
 *	files) given, once each, without libFuzzer: the normal build replays
 *	the committed corpus this way, so every input the fuzzer ever broke
 *	the walkers with stays a test.
 */
#import <Foundation/Foundation.h>

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

/* Feeds one file to the target; answers 1 when it was read. */
static int
ReplayFile(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (file == NULL) {
	return 0;
    }
    size_t capacity = 4096, size = 0;
    uint8_t *data = (uint8_t *) malloc(capacity);
    size_t got;
    while ((got = fread(data + size, 1, capacity - size, file)) > 0) {
	size += got;
	if (size == capacity) {
	    capacity *= 2;
	    data = (uint8_t *) realloc(data, capacity);
	}
    }
    fclose(file);
    /* An exact-size block, so over-reads past the input are over-reads
     * past the block. */
    uint8_t *exact = (uint8_t *) malloc(size > 0 ? size : 1);
    memcpy(exact, data, size);
    free(data);
    LLVMFuzzerTestOneInput(exact, size);
    free(exact);
    return 1;
}

static int
ReplayPath(const char *path)
{
    struct stat info;
    if (stat(path, &info) != 0) {
	fprintf(stdout, "cannot read %s\n", path);
	return 0;
    }
    if (!S_ISDIR(info.st_mode)) {
	return ReplayFile(path);
    }
    DIR *dir = opendir(path);
    if (dir == NULL) {
	return 0;
    }
    int count = 0;
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
	if (entry->d_name[0] == '.') {
	    continue;
	}
	size_t length = strlen(path) + strlen(entry->d_name) + 2;
	char *file = (char *) malloc(length);
	snprintf(file, length, "%s/%s", path, entry->d_name);
	count += ReplayFile(file);
	free(file);
    }
    closedir(dir);
    return count;
}

int
main(int argc, char **argv)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    LLVMFuzzerInitialize(&argc, &argv);
    int count = 0;
    for (int i = 1; i < argc; i++) {
	count += ReplayPath(argv[i]);
    }
    fprintf(stdout, "replayed %d inputs\n", count);
    [pool release];
    return count > 0 ? 0 : 1;
}
