// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/RecordWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What a writer of format over fields writes for the records, through fnMore.
template <typename More>
std::string Written(OutputFormat format, std::vector<RecordField> fields, More fnMore) {
    std::string strOut;
    RecordWriter writer([&](std::string_view text) { strOut.append(text); }, format,
                        std::move(fields));
    fnMore(writer);
    return strOut;
}

TEST(RecordWriterTest, TsvEscapesWhatWouldBreakALineAndLeavesOutFieldsForScripts) {
    const std::vector<std::string> patterns = {"a", "b\tc"};
    const std::string strOut =
        Written(OutputFormat::Tsv,
                {{"path", true},
                 {"size"},
                 {.pszName = "type", .bInTsv = false},
                 {"ok"},
                 {"when"},
                 {"excluded"}},
                [&](RecordWriter& writer) {
                    writer.WriteHeader(); // tsv has none
                    writer.Write({std::string_view("a\tb\nc\rd\\e\"f,"), int64_t{42},
                                  std::string_view("file"), true, TimeNs{0}, TextList{&patterns}});
                    writer.WriteSeparator();
                    writer.Write({RecordValue(), RecordValue(), std::string_view("dir"), false,
                                  TimeNs{-1}, RecordValue()});
                });
    EXPECT_EQ(strOut, "a\\tb\\nc\\rd\\\\e\"f,\t42\tyes\t1970-01-01T00:00:00Z\ta, b\\tc\n"
                      "\n"
                      "\t\tno\t1969-12-31T23:59:59.999999999Z\t\n");

    OutputFormat format = OutputFormat::Tsv;
    EXPECT_TRUE(ParseOutputFormat("json", format));
    EXPECT_EQ(format, OutputFormat::Json);
    EXPECT_TRUE(ParseOutputFormat("csv", format));
    EXPECT_EQ(format, OutputFormat::Csv);
    EXPECT_FALSE(ParseOutputFormat("TSV", format));
    EXPECT_EQ(format, OutputFormat::Csv);
}

TEST(RecordWriterTest, CsvQuotesWhereNeededWritesTheHeaderOnceAndKeepsInvalidNamesInBytes) {
    const std::vector<RecordField> fields = {{"path", true}, {"size"}, {"note"}, {"dir", true}};
    const std::string strOut = Written(OutputFormat::Csv, fields, [](RecordWriter& writer) {
        writer.Write(
            {std::string_view("plain"), int64_t{1}, std::string_view("x"), std::string_view("/d")});
        writer.WriteHeader();
        writer.WriteSeparator(); // nothing in csv
        writer.Write({std::string_view("a,b"), RecordValue(),
                      std::string_view("say \"hi\"\nnext\r"), std::string_view("")});
        writer.Write({std::string_view("\xff"
                                       "bad\xc3"),
                      true, std::string_view("\xfe"), std::string_view("\t\\")});
    });
    EXPECT_EQ(strOut, "path,size,note,dir,path_bytes,dir_bytes\r\n"
                      "plain,1,x,/d,,\r\n"
                      "\"a,b\",,\"say \"\"hi\"\"\nnext\r\",,,\r\n"
                      "\xEF\xBF\xBD"
                      "bad\xEF\xBF\xBD,true,\xEF\xBF\xBD,\t\\,ff626164c3,\r\n");

    EXPECT_EQ(
        Written(OutputFormat::Csv, fields, [](RecordWriter& writer) { writer.WriteHeader(); }),
        "path,size,note,dir,path_bytes,dir_bytes\r\n");
}

TEST(RecordWriterTest, JsonEscapesControlsAndWritesInvalidBytesAsSurrogateEscapes) {
    const std::vector<std::string> patterns = {"ok", "\xfe*"};
    const std::vector<std::string> validPatterns = {"a\"b"};
    const std::string strOut = Written(
        OutputFormat::Json, {{"path", true}, {"n"}, {"yes"}, {"t"}, {"excluded", true}, {"label"}},
        [&](RecordWriter& writer) {
            writer.WriteSeparator(); // nothing in json
            writer.Write({std::string_view("q\"b\\s\x01\x7f\t\n\r\xff\xc3\xa9"), int64_t{-5}, false,
                          TimeNs{1500000000}, TextList{&patterns}, std::string_view("")});
            writer.Write({std::string_view("\xf0\x9f\x98\x80x\xc3"), UnsignedNumber{0},
                          RecordValue(), RecordValue(), TextList{&validPatterns},
                          std::string_view("\xfe")});
        });
    EXPECT_EQ(strOut,
              "{\"path\":\"q\\\"b\\\\s\\u0001\\u007f\\t\\n\\r\\udcff\xc3\xa9\","
              "\"path_bytes\":\"7122625c73017f090a0dffc3a9\",\"n\":-5,\"yes\":false,"
              "\"t\":\"1970-01-01T00:00:01.5Z\",\"excluded\":[\"ok\",\"\\udcfe*\"],"
              "\"excluded_bytes\":[null,\"fe2a\"],\"label\":\"\"}\n"
              "{\"path\":\"\xf0\x9f\x98\x80x\\udcc3\",\"path_bytes\":\"f09f988078c3\",\"n\":0,"
              "\"yes\":null,\"t\":null,\"excluded\":[\"a\\\"b\"],\"label\":\"\\udcfe\"}\n");
}

} // namespace
