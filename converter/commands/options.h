#pragma once

// A command's options, each declared once: its names, its value's name, its help and how its
// value is read into the command's settings. The parser, --help, the manual page, the shell's
// completion and the table in docs/options.md are all made from the declarations.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

struct Option {
    const char* names; // "o,output": a one-letter name, a comma and the long name, or one name
    const char* value; // the value's name as help shows it ("LO,HI"), or "" for a switch
    const char* help;  // what it does, one paragraph without line breaks
};

// The option's names as the parser takes them: {"o", "output"}.
QStringList optionNames(const Option& option);

// The option as the parser takes it.
QCommandLineOption parserOption(const Option& option);

// The option as help shows it: "-o, --output OUT.vol", "--crop".
[[nodiscard]] std::string optionTerm(const Option& option);

// An option with the reading of its value into a command's settings.
template <class Settings> struct OptionReader {
    Option option;
    // Reads the value (empty for a switch) into settings when the option is given. Returns ""
    // or the usage message. Null when the command reads it itself (-o, say).
    QString (*read)(const QString& value, Settings* settings);
};

// The declarations of a table of readers, for the command's entry.
template <class Settings>
std::vector<Option> declarations(const std::vector<OptionReader<Settings>>& readers) {
    std::vector<Option> options;
    for (const OptionReader<Settings>& reader : readers)
        options.push_back(reader.option);
    return options;
}

// Reads every given option of readers, in the table's order, into settings. Returns "" or the
// first usage message.
template <class Settings>
QString readOptions(const QCommandLineParser& parser,
                    const std::vector<OptionReader<Settings>>& readers, Settings* settings) {
    for (const OptionReader<Settings>& reader : readers) {
        const QString name = optionNames(reader.option).constLast();
        if (reader.read && parser.isSet(name)) {
            const QString usage = reader.read(parser.value(name), settings);
            if (!usage.isEmpty())
                return usage;
        }
    }
    return QString();
}

// Reads text as a decimal integer from lo to hi into *value; false when it is not one.
bool readIntegerIn(const QString& text, int lo, int hi, int* value);

// The options' lines as --help shows them under "options:": each term, then its help wrapped
// at the help's width beside it, or under it when the term is too long.
[[nodiscard]] std::string optionHelp(const std::vector<Option>& options);

// The options as the manual page lists them: a tagged paragraph each.
[[nodiscard]] std::string optionRoff(const std::vector<Option>& options);

// The options as a Markdown table: the term, then what it does.
[[nodiscard]] std::string optionMarkdown(const std::vector<Option>& options);

// The word of words nearest to word (fewest letters added, dropped or changed), when it is
// close enough to be a slip of the keyboard; "" otherwise.
[[nodiscard]] std::string nearestWord(const std::string& word,
                                      const std::vector<std::string>& words);
