#include "cli/CommandTable.h"

// clang-format off
// The help of each command follows its usage lines and a blank line.
const std::vector<CliCommand> kCommands = {
    {"create", RunCreateCommand, {"--checksum", "--force", "--one-file-system"},
     {"--max-size", "--exclude", "--jobs"}, "walk START_DIR into the new catalog NAME",
     "[--checksum] [--max-size KB] [--exclude PATTERN]... [--one-file-system] [--jobs N] [--force] "
     "NAME START_DIR",
     "Builds the catalog NAME, the file <data folder>/NAME.mdb, from the directory\n"
     "tree below START_DIR: the path of every directory, and the name and size of\n"
     "every file. An absolute START_DIR is stored exactly as given, a relative one\n"
     "as the absolute path it names (links resolved). Symbolic links are recorded\n"
     "as files and never followed; hidden files are included.\n"
     "\n"
     "Options:\n"
     "  --checksum      also store an MD5 checksum of each regular file\n"
     "  --max-size KB   checksum only files of at most KB kilobytes (1024 bytes;\n"
     "                  the size shifted right by 10 is compared); 0 = no limit;\n"
     "                  default 100. It does not turn --checksum on by itself.\n"
     "  --exclude PATTERN  leave out entries that match: a PATTERN without '/'\n"
     "                  is matched against each name, one with '/' against the\n"
     "                  whole path; an excluded directory is not entered.\n"
     "                  May be given several times.\n"
     "  --one-file-system  store directories on other file systems than\n"
     "                  START_DIR's, but do not enter them\n"
     "  --jobs N        hash checksums on N threads; by default as many as the\n"
     "                  machine has cores, or one when START_DIR lies on a spinning\n"
     "                  disk (reading two files at once makes it seek). The rows are\n"
     "                  the same whatever N is.\n"
     "  --force         replace an existing catalog of that name: the new one takes\n"
     "                  its place when it is complete; until then, and for good\n"
     "                  when the build fails or is stopped, the old one stays\n"
     "  -h, --help      show this text\n"
     "\n"
     "The data folder is $XDG_DATA_HOME/kestrel/, by default ~/.local/share/kestrel/,\n"
     "created when missing. On a terminal a live count of directories and files\n"
     "is shown on standard error; at the end one summary line gives the\n"
     "directories, files and checksums written and the seconds taken.\n"
     "\n"
     "Directories that could not be read (no access, a read error part way) keep\n"
     "their rows with what could be read, and the summary counts them.\n"
     "\n"
     "Ctrl-C (SIGINT) or SIGTERM stops the walk: what was walked until then is\n"
     "kept, and the catalog is said to be incomplete (with --force over an\n"
     "existing catalog: the old one stays as it was).\n"
     "\n"
     "While another program writes the catalog (create, update, reindex, delete),\n"
     "create waits for it to finish.\n"
     "\n"
     "Exit status: 0 when the catalog is built; 1 when it could not be (a start\n"
     "directory that is missing, no directory or cannot be read, or the engine's\n"
     "message on standard error; the catalog keeps what was written);\n"
     "2 for a wrong command line, an empty, invalid or too long name, an empty\n"
     "start directory, or an existing catalog without --force; 130 or 143 when\n"
     "stopped by SIGINT or SIGTERM.\n"},
    {"update", RunUpdateCommand, {"--checksum", "--one-file-system"},
     {"--max-size", "--exclude", "--jobs"},
     "bring a catalog up to date, reading only new and changed files",
     "[--checksum] [--max-size KB] [--exclude PATTERN]... [--one-file-system] [--jobs N] ENTRY",
     "Brings the catalog of the list entry ENTRY up to date: its start directory\n"
     "is walked again into a new catalog, in which every file with the same\n"
     "path, size and modification time as before keeps its checksum without\n"
     "being read; only new and changed files are read. The new catalog takes the\n"
     "old one's place only when it is complete: an update that fails or is\n"
     "stopped (Ctrl-C) leaves the old catalog exactly as it was.\n"
     "\n"
     "The options default to those the catalog was made with; given ones replace\n"
     "them (--exclude replaces all recorded patterns). See 'kestrel-cli create\n"
     "--help' for their meaning. A catalog made by an earlier Kestrel records no\n"
     "times: it is updated as a full rebuild.\n"
     "\n"
     "When the start directory is not there (its disk is not plugged in) the\n"
     "update refuses and names the volume it was on, with the catalog's note. A\n"
     "volume mounted at another place than when it was catalogued is walked\n"
     "there; the catalog keeps its paths as catalogued, and its note.\n"
     "\n"
     "At the end one line tells the files added, removed, changed and unchanged,\n"
     "the checksums computed and the seconds taken. Exit status as create's: 0\n"
     "when updated, 1 when it could not be, 2 for a wrong command line, 130 or\n"
     "143 when stopped.\n"},
    {"reindex", RunReindexCommand, {}, {},
     "build the name index that makes searches for a piece of a name fast", "ENTRY...",
     "Builds, or builds anew, the name index of each catalog: tables beside its\n"
     "own that let a search for a piece of a name read only the rows that may\n"
     "hold it, instead of every row. Catalogs made by this Kestrel have one.\n"
     "Catalogs made by an earlier Kestrel or another program, and catalogs\n"
     "whose dirs or files rows were changed since the index was built (by any\n"
     "program), are searched row by row until they are indexed anew. A search\n"
     "finds the same hits either way.\n"
     "It builds the folder tables (what ls, tree and du read) anew too,\n"
     "keeping the modes and folder times the walk recorded where the folders\n"
     "and their files are still the same rows.\n"
     "The catalog's folder must be writable. Exit status: 0, or 1 when a\n"
     "catalog could not be indexed.\n"},
    {"info", RunInfoCommand, {}, {"--format"},
     "print what catalogs record of themselves: when, where, how",
     "[--format tsv|csv|json] ENTRY...",
     "Prints what each catalog records of itself, one 'Key: value' line each:\n"
     "its start directory, when its scan started and finished and whether it\n"
     "completed, its counts, the options it was made with, the volume its start\n"
     "directory lay on (file system, UUID, label, mount point, size, free space)\n"
     "and its note, if it has one. What a catalog does not record reads\n"
     "'unknown'; of a catalog made by an earlier Kestrel or another program,\n"
     "what its rows tell is shown.\n"
     "Catalogs are separated by a blank line. With --format csv or json each\n"
     "catalog is one record: catalog, path, start_directory, started, finished,\n"
     "complete, directories, files, checksums, checksum_limit_kb, total_bytes,\n"
     "excluded, one_file_system, file_system, uuid, label, mount_point,\n"
     "volume_bytes, free_bytes, made_by, host, note; unknown values empty or\n"
     "null.\n"
     "The excluded patterns are an array in json, joined by ', ' otherwise.\n"
     "Exit status: 0, or 2 when a catalog cannot be read.\n"},
    {"list", RunListCommand, {}, {}, "print the catalog list, one entry a line", "",
     "Prints the catalog list, one entry a line, in list order: the\n"
     "catalogs of the data folder by name, then the full paths added with\n"
     "'kestrel-cli add'. A tab, line break, carriage return or backslash in an\n"
     "entry is written as \\t, \\n, \\r or \\\\, so every line is one entry.\n"},
    {"add", RunAddCommand, {}, {}, "add a catalog file from elsewhere to the list", "PATH",
     "Adds the catalog file PATH (made absolute) to the catalog list, the file\n"
     "dblist.txt in the data folder. Refused, with exit status 1, when the file\n"
     "is no catalog or is listed already (the same file under any path: by its\n"
     "name in the data folder, through a link, with .. in it), or when the list\n"
     "cannot be written (it is then left exactly as it was).\n"},
    {"delete", RunDeleteCommand, {"--yes"}, {}, "delete a listed catalog's file and its list entry",
     "[--yes] ENTRY",
     "Deletes the catalog of the list entry ENTRY (a name or a full path as\n"
     "'kestrel-cli list' prints it): its file is removed from disk, and a full\n"
     "path also leaves dblist.txt. Asks first on a terminal; --yes is needed\n"
     "otherwise. Exit status 1 when refused, or when the file or the list could\n"
     "not be changed (then nothing is).\n"},
    {"search", RunSearchCommand, {"-0", "--null", "--online", "--offline"},
     {"--where", "--format", "--size", "--changed-within", "--changed-before"},
     "search the named catalogs, or all listed ones",
     "[--where both|files|dirs] [--size +SIZE|-SIZE]... [--changed-within WHEN] [--changed-before "
     "WHEN] [--online|--offline] [--format tsv|csv|json] [-0] PATTERN [ENTRY...]",
     "Searches the named catalog list entries, or every listed catalog, in list\n"
     "order. PATTERN covers the whole name or path and ignores letter case:\n"
     "  *  any run of characters      ?  one character      #  one digit\n"
     "  [abc] [a-z]  one of these     [!abc]  one not listed\n"
     "  [*] [?] [#] [[]  the character itself\n"
     "It is taken exactly as typed: report finds only files named report,\n"
     "*report* every name containing it.\n"
     "\n"
     "  --where both   file names and directory paths (default): a matching\n"
     "                 directory lists all its files\n"
     "  --where files  file names\n"
     "  --where dirs   directory paths (a whole path: */photos)\n"
     "\n"
     "Filters narrow the hits of the pattern (not with --where dirs):\n"
     "  --size +SIZE   at least SIZE; --size -SIZE at most SIZE; twice for a\n"
     "                 range. SIZE: a whole number with an optional unit b, k,\n"
     "                 M, G, T (powers of 1024): +10M, -500k\n"
     "  --changed-within WHEN   modified at or after WHEN\n"
     "  --changed-before WHEN   modified before WHEN\n"
     "                 WHEN: a duration back from now (2weeks, 3d, 12h, 90min,\n"
     "                 1y) or a local date (2024-06-30, '2024-06-30 12:00:00').\n"
     "                 Units: s, min, h, d, w, months, y; years 0000 to 9999.\n"
     "                 A catalog holds times from 1677 to 2262; a WHEN outside\n"
     "                 them is still that moment: --changed-before 2300-01-01\n"
     "                 passes every file with a time, --changed-within 1000y too.\n"
     "                 Files whose catalog records no time never pass.\n"
     "  --online       only catalogs whose disk is plugged in now (see volumes)\n"
     "  --offline      only catalogs whose disk is not\n"
     "\n"
     "  --format tsv   one hit a line: path, size, checksum and catalog,\n"
     "                 separated by tabs (default); a tab, line break, carriage\n"
     "                 return or backslash within a field is written as \\t, \\n,\n"
     "                 \\r or \\\\\n"
     "  --format csv   RFC 4180 with a header line: path, size, md5, catalog,\n"
     "                 mtime, type, and path_bytes and catalog_bytes\n"
     "  --format json  one JSON object a line with the same fields, and online:\n"
     "                 whether the hit's disk is plugged in now\n"
     "                 In csv and json a name that is not valid UTF-8 keeps its\n"
     "                 exact bytes in hexadecimal in <field>_bytes (json writes\n"
     "                 the text with \\udcXX escapes, as Python's surrogateescape).\n"
     "  -0, --null     print only the paths, each ended by a NUL byte (for\n"
     "                 xargs -0); not with --format csv or json\n"
     "\n"
     "A malformed pattern is refused before any catalog is read.\n"
     "Exit status: 0 with hits, 1 without, 2 on an error (also when the output\n"
     "cannot be written).\n"},
    {"verify", RunVerifyCommand, {}, {"--format"}, "check every catalogued file for changes",
     "[--format tsv|csv|json] ENTRY...",
     "Checks every file of the catalogs against what was catalogued: a file\n"
     "whose size differs has changed; otherwise its MD5 is computed again and\n"
     "compared with the stored one. Files are looked at without following links;\n"
     "links, FIFOs, sockets and devices are never opened. Prints each file that\n"
     "was changed, is not found or cannot be read, then a summary: unchanged,\n"
     "changed, not found, not readable, and not checked (there with its size,\n"
     "but no stored checksum, or no regular file; never counted as unchanged).\n"
     "With --format csv or json each such file is a record (path, result,\n"
     "catalog) and the summary goes to standard error.\n"
     "A catalog whose disk is not plugged in is not checked: one message names\n"
     "the disk (label, UUID) and the catalog's note ('disk absent' in csv and\n"
     "json). A disk mounted elsewhere than when catalogued is checked there.\n"
     "Exit status: 0 when nothing changed, vanished or could not be read, 1\n"
     "otherwise, 2 on an error.\n"},
    {"diff", RunDiffCommand, {"--content"}, {"--format"},
     "what changed between two catalogs, or what of OLD has no copy in NEW",
     "[--content] [--format tsv|csv|json] OLD NEW",
     "Compares two catalogs (list entries) by each file's path below its\n"
     "catalog's start directory, so a disk mounted elsewhere, or a backup in\n"
     "another folder, compares by what is inside. One line a difference, as git\n"
     "diff --name-status writes them: A (only in NEW), D (only in OLD) or M\n"
     "(another size, or both have checksums and they differ), a tab, the path.\n"
     "Directories on one side only are listed with a trailing '/'. A summary goes\n"
     "to standard error.\n"
     "\n"
     "  --content  answer instead: is everything of OLD somewhere in NEW? Prints\n"
     "             the full path of each file of OLD that has no file of the\n"
     "             same size and checksum anywhere in NEW. Files of OLD without\n"
     "             a checksum are counted apart: they are never called safe.\n"
     "  --format   tsv (default), csv or json (status, path, type, old_size,\n"
     "             new_size; with --content: path, size)\n"
     "\n"
     "Exit status: 0 when nothing differs (with --content: every file of OLD has\n"
     "a copy in NEW), 1 when something does, 2 on an error.\n"},
    {"duplicates", RunDuplicatesCommand, {}, {"--min-size", "--format"},
     "files with the same size and checksum, the most wasteful first",
     "[--min-size SIZE] [--format tsv|csv|json] [ENTRY...]",
     "Finds files with the same size and the same checksum across the named\n"
     "catalogs (all listed ones by default). Each group's files are printed as\n"
     "search hits (path, size, checksum, catalog), groups separated by an empty\n"
     "line, the group that wastes the most bytes first. A summary on standard\n"
     "error tells the groups, the files, and the bytes that keeping one copy of\n"
     "each would free. Files without a checksum are never called duplicates;\n"
     "empty files free nothing and are left out.\n"
     "\n"
     "  --min-size SIZE  leave out files smaller than SIZE (a whole number with\n"
     "                   an optional unit b, k, M, G, T: powers of 1024)\n"
     "  --format         tsv (default), csv or json (group, path, size, md5,\n"
     "                   catalog)\n"
     "\n"
     "Exit status: 0 when there are duplicates, 1 when there are none, 2 on an\n"
     "error.\n"},
    {"ls", RunLsCommand, {"-l"}, {"--format"},
     "list the entries of one folder of a catalog", "[-l] [--format tsv|csv|json] ENTRY [PATH]",
     "Lists the entries of one folder of the catalog of ENTRY, as they were\n"
     "catalogued: PATH as the catalog stores it (an absolute path), or relative\n"
     "to its start directory; the start directory without PATH. Directories come\n"
     "first, then files, each by name (byte order). A tab, line break, carriage\n"
     "return or backslash in a name is written as \\t, \\n, \\r or \\\\.\n"
     "\n"
     "  -l        each entry as kind, size, modification time (ISO 8601 UTC),\n"
     "            checksum, mode and name, separated by tabs. The kind is\n"
     "            directory, file, link, fifo, socket, char-device or\n"
     "            block-device; the mode is the type and permissions as ls -l\n"
     "            writes them (-rwxr-xr-x). A directory's size is the sum of the\n"
     "            stored sizes below it, its time its own. A catalog that does\n"
     "            not hold what the walk saw (made by an earlier Kestrel or\n"
     "            another program, or changed by one since) gives directory or\n"
     "            file, no mode, and a directory the time of the newest file\n"
     "            below it\n"
     "  --format  tsv (default), csv or json: always the fields of -l (kind,\n"
     "            size, mtime, md5, mode, name, and name_bytes)\n"
     "\n"
     "Exit status: 0, 1 when PATH is no folder of the catalog, 2 on an error.\n"},
    {"tree", RunTreeCommand, {}, {"--depth"},
     "print the folders of a catalog as an indented tree, with their totals",
     "[--depth N] ENTRY [PATH]",
     "Prints the folders below one folder of the catalog of ENTRY (PATH as for\n"
     "ls; the start directory without it), each on a line indented by two spaces\n"
     "a level, subfolders by name, with the size of everything below it (as du -h\n"
     "writes sizes) and its number of files.\n"
     "\n"
     "  --depth N  no folders more than N levels below the first\n"
     "\n"
     "Exit status: 0, 1 when PATH is no folder of the catalog, 2 on an error.\n"},
    {"du", RunDuCommand, {"-h"}, {"--depth", "--sort", "--top"},
     "print how many bytes lie below each folder of a catalog",
     "[--depth N] [-h] [--sort size|name] [--top N] ENTRY [PATH]",
     "Prints, for one folder of the catalog of ENTRY (PATH as for ls; the start\n"
     "directory without it) and every folder below it, the sum of the stored\n"
     "sizes of the files below it, in bytes, a tab and its path as stored, one\n"
     "folder a line, each folder after the folders below it.\n"
     "\n"
     "  --depth N        only the folders at most N levels below the first\n"
     "  -h               sizes as du -h writes them: 512, 4.0K, 15M, 1.2G\n"
     "  --sort size      the largest first; --sort name: by path (byte order)\n"
     "  --top N          only the N largest (by size, unless --sort name)\n"
     "\n"
     "Exit status: 0, 1 when PATH is no folder of the catalog, 2 on an error.\n"},
    {"volumes", RunVolumesCommand, {}, {"--format"},
     "which catalogued disks are plugged in now, and where",
     "[--format tsv|csv|json] [ENTRY...]",
     "Prints one line for each catalog of the list (or each ENTRY): the catalog,\n"
     "its volume's label, UUID, file system, size and free space when it was\n"
     "catalogued, when the catalog was made, where the volume is now ('online at\n"
     "MOUNT_POINT' or 'offline') and the catalog's note, separated by tabs.\n"
     "\n"
     "A volume is looked for among the mounted ones by its UUID where both the\n"
     "catalog and the mounted volume know one, else by its label and file system\n"
     "(said as 'by label and file system': another volume may share them). A\n"
     "catalog that names no volume is online when its start directory is there.\n"
     "The UUID and label are read from the device itself; a device this user\n"
     "may not read is known by /dev/disk/by-uuid and by-label where they exist.\n"
     "\n"
     "  --format   tsv (default), csv or json; csv and json add online (yes/no),\n"
     "             mount_point (where it is now), catalogued_mount_point and\n"
     "             match (uuid, label, mount point or start directory)\n"
     "\n"
     "Exit status: 0, or 2 when a catalog cannot be read.\n"},
    {"note", RunNoteCommand, {}, {}, "print or change the note kept in a catalog",
     "ENTRY [TEXT]",
     "With TEXT, keeps it as the catalog's note (where the disk lives: 'shelf 3,\n"
     "blue box'); an empty TEXT removes the note. Without TEXT, prints the note.\n"
     "The note is shown by info and volumes, and when a file is asked for whose\n"
     "disk is not plugged in. An update keeps it.\n"
     "Exit status: 0; 1 when the catalog has no note (without TEXT), or it\n"
     "cannot be written.\n"},
};
// clang-format on
