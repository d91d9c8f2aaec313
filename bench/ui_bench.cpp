// Timed runs of the desktop program's heavy paths, offscreen, in process.
// Each prints its figures and their ratio to the target it is judged by.
//
//   kestrel-ui-bench list [--rows N]   N rows into the result list, shown,
//                                      then sorted by each column
//
// Every timed step runs once to warm up, then the best of three counts.

#include "controls/CSortListCtrl.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 3;

double Seconds(const std::function<void()>& fnRun) {
    const auto tStart = std::chrono::steady_clock::now();
    fnRun();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
}

// The best of kRuns after one warm-up; fnPrepare runs untimed before each.
double Best(const std::function<void()>& fnPrepare, const std::function<void()>& fnRun) {
    double dBest = 1e30;
    for (int i = 0; i <= kRuns; ++i) {
        fnPrepare();
        const double d = Seconds(fnRun);
        if (i > 0)
            dBest = std::min(dBest, d);
    }
    return dBest;
}

// Resident memory now, in bytes.
long ResidentBytes() {
    long nPages = 0, nResident = 0;
    if (FILE* pFile = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(pFile, "%ld %ld", &nPages, &nResident) != 2)
            nResident = 0;
        std::fclose(pFile);
    }
    return nResident * 4096;
}

void Report(const char* pszWhat, double dSeconds, double dTarget) {
    std::printf("  %-40s %7.3f s   target < %.1f s   ratio %.2f\n", pszWhat, dSeconds, dTarget,
                dSeconds / dTarget);
}

struct Row {
    std::string strPath, strSize, strChecksum, strDatabase;
};

std::vector<Row> MakeRows(uint64_t nRows) {
    std::mt19937_64 random(42);
    const char* const kDatabases[] = {"Photos", "Backup 2024", "/media/archive/old.mdb"};
    const char* const kExtensions[] = {".jpg", ".txt", ".flac", ".pdf", ".tar.gz"};
    std::vector<Row> rows;
    rows.reserve(nRows);
    for (uint64_t i = 0; i < nRows; ++i) {
        Row row;
        row.strPath = "/home/user/projects/dir" + std::to_string(random() % 5000) + "/sub" +
                      std::to_string(random() % 20) + "/file_" + std::to_string(random()) +
                      kExtensions[random() % 5];
        row.strSize = std::to_string(random() % 10000000000ULL);
        char szHex[33];
        std::snprintf(szHex, sizeof szHex, "%016llx%016llx",
                      static_cast<unsigned long long>(random()),
                      static_cast<unsigned long long>(random()));
        row.strChecksum = random() % 4 ? szHex : "";
        row.strDatabase = kDatabases[random() % 3];
        rows.push_back(std::move(row));
    }
    return rows;
}

int BenchList(uint64_t nRows) {
    std::printf("result list: %llu rows of four columns\n", static_cast<unsigned long long>(nRows));
    const std::vector<Row> rows = MakeRows(nRows);
    CSortListCtrl list;
    list.SetColumns("Path,200;File size,75;CRC,230;Database,100");
    list.resize(800, 600);
    list.show();
    QApplication::processEvents();
    const long nBefore = ResidentBytes();
    long nAfter = 0;
    const double dAdd =
        Best([&] { list.DeleteAllRows(); },
             [&] {
                 list.SetRedraw(false);
                 for (const Row& row : rows)
                     list.AddRow({row.strPath, row.strSize, row.strChecksum, row.strDatabase});
                 list.SetRedraw(true);
                 list.viewport()->repaint();
                 QApplication::processEvents();
                 nAfter = ResidentBytes();
             });
    Report("add and show", dAdd, 1.0);
    std::printf("  memory per row: %.0f bytes\n", double(nAfter - nBefore) / double(nRows));
    const char* const kColumns[] = {"Path", "File size", "CRC", "Database"};
    for (int nColumn = 0; nColumn < 4; ++nColumn) {
        bool bAscending = true;
        const double dSort = Best([] {},
                                  [&] {
                                      list.SortColumn(nColumn, bAscending);
                                      bAscending = !bAscending;
                                      list.viewport()->repaint();
                                  });
        Report((std::string("sort by ") + kColumns[nColumn]).c_str(), dSort, 1.0);
    }
    return 0;
}

uint64_t OptionValue(int argc, char** argv, const char* pszOption, uint64_t nDefault) {
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], pszOption) == 0)
            return std::strtoull(argv[i + 1], nullptr, 10);
    return nDefault;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::string strMode = argc > 1 ? argv[1] : "";
    if (strMode == "list")
        return BenchList(OptionValue(argc, argv, "--rows", 200000));
    std::fprintf(stderr, "usage: kestrel-ui-bench list [--rows N]\n");
    return 2;
}
