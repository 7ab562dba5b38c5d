#include "desktopfiles.h"

#include "formattable.h"

#include <QImageReader>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

namespace {
std::string xmlText(const std::string& text) {
    static const std::pair<char, const char*> entities[] = {
        {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}};
    std::string xml;
    for (const char c : text) {
        const auto* entity = std::find_if(std::begin(entities), std::end(entities),
                                          [c](const auto& e) { return e.first == c; });
        xml += entity == std::end(entities) ? std::string(1, c) : entity->second;
    }
    return xml;
}

// A magic's bytes as shared-mime-info reads a string value: octal escapes for all but plain
// characters.
std::string magicValue(const std::string& bytes) {
    std::string value;
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\') {
            value += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
            value += escaped;
        }
    }
    return xmlText(value);
}

std::string mimeTypeXml(const MimeType& type) {
    std::string xml = "  <mime-type type=\"" + xmlText(type.name) + "\">\n    <comment>" +
                      xmlText(type.comment) + "</comment>\n";
    if (type.subClassOf)
        xml += "    <sub-class-of type=\"" + xmlText(type.subClassOf) + "\"/>\n";
    if (type.magic)
        xml += "    <magic>\n      <match type=\"string\" offset=\"" +
               std::to_string(type.magicOffset) + "\" value=\"" + magicValue(type.magic) +
               "\"/>\n    </magic>\n";
    for (const std::string& suffix : type.suffixes)
        xml += "    <glob pattern=\"*." + xmlText(suffix) + "\"/>\n";
    return xml + "  </mime-type>\n";
}

std::string joined(const std::vector<std::string>& words, const char* separator) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : separator) + word;
    return text;
}

// The pictures Qt reads, as the build's Qt has its plugins.
std::vector<std::string> pictureSuffixes() {
    std::vector<std::string> suffixes;
    for (const QByteArray& picture : QImageReader::supportedImageFormats())
        suffixes.push_back(picture.toLower().toStdString());
    return suffixes;
}

// The suffixes of the files pack reads: the table's, its MIME types' and the pictures'.
std::vector<std::string> packSuffixes() {
    std::vector<std::string> pictures = pictureSuffixes();
    std::set<std::string> suffixes(pictures.begin(), pictures.end());
    for (const InputFormat& format : inputFormats()) {
        suffixes.insert(format.suffixes.begin(), format.suffixes.end());
        for (const MimeType& type : format.mimeTypes)
            suffixes.insert(type.suffixes.begin(), type.suffixes.end());
    }
    return std::vector<std::string>(suffixes.begin(), suffixes.end());
}

const char completionHead[] =
    R"(# Bash completion for tessary-vol and tessary, made by tessary-vol from its tables of commands,
# options and formats, and from the launcher's help; installed under both names.

# Adds the words compgen gives for its options and $cur to COMPREPLY, a line each.
_tessary_add() {
    local word
    while IFS= read -r word; do
        COMPREPLY+=("$word")
    done < <(compgen "$@" -- "$cur")
}

# Adds the folders, and the files of a kind (inputs, volumes, pictures, files; folders: none).
# The pictures are those the build's Qt reads.
_tessary_files() {
    local suffix suffixes=()
    case $1 in
    inputs) suffixes=(@INPUTS@) ;;
    volumes) suffixes=(vol) ;;
    pictures) suffixes=(@PICTURES@) ;;
    esac
    compopt -o filenames 2>/dev/null
    _tessary_add -d
    if [ "$1" = files ]; then
        _tessary_add -f
    fi
    for suffix in "${suffixes[@]}"; do
        _tessary_add -f -X "!*.$suffix"
        _tessary_add -f -X "!*.${suffix^^}"
    done
}

# Completes a command's options, a file after an option that takes one, nothing after one
# that takes another value, and its inputs of the kind given.
_tessary_arguments() {
    local options=$1 files=$2 values=$3 inputs=$4
    if [[ " $files " == *" $prev "* ]]; then
        _tessary_files files
    elif [[ " $values " == *" $prev "* ]]; then
        return
    elif [[ $cur == -* ]]; then
        _tessary_add -W "$options"
    else
        _tessary_files "$inputs"
    fi
}

_tessary_vol() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if [ "$COMP_CWORD" -eq 1 ]; then
        _tessary_add -W '@COMMANDS@ -h --help --version'
        return
    fi
    case ${COMP_WORDS[1]} in
)";

const char completionTail[] = R"(    esac
}

_tessary() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    _tessary_arguments '@LAUNCHER_OPTIONS@' '' '@LAUNCHER_VALUES@' inputs
}

complete -F _tessary_vol tessary-vol
complete -F _tessary tessary
)";

const char* kindWord(InputKind kind) {
    switch (kind) {
    case InputKind::PackInputs:
        return "inputs";
    case InputKind::Volumes:
        return "volumes";
    case InputKind::Pictures:
        return "pictures";
    case InputKind::Folder:
        return "folders";
    case InputKind::Files:
        break;
    }
    return "files";
}

// A command's branch of the case: its options, those whose value is a file, those with other
// values, and its inputs' kind.
std::string commandBranch(const Command& command) {
    std::vector<std::string> options, files, values;
    for (const Option& option : command.options) {
        const std::string value = option.value;
        for (const QString& name : optionNames(option)) {
            const std::string word = (name.size() == 1 ? "-" : "--") + name.toStdString();
            options.push_back(word);
            if (value.rfind("OUT", 0) == 0 || value == "PICTURE")
                files.push_back(word);
            else if (!value.empty())
                values.push_back(word);
        }
    }
    options.insert(options.end(), {"-h", "--help"});
    return std::string("    ") + command.name + ")\n        _tessary_arguments '" +
           joined(options, " ") + "' '" + joined(files, " ") + "' '" + joined(values, " ") + "' " +
           kindWord(command.inputs) + "\n        ;;\n";
}

void fill(std::string* text, const std::string& field, const std::string& value) {
    for (std::size_t at = text->find(field); at != std::string::npos;
         at = text->find(field, at + value.size()))
        text->replace(at, field.size(), value);
}
} // namespace

std::string mimeInfo() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!-- Made by tessary-vol from its table of formats. -->\n"
                      "<mime-info xmlns=\"http://www.freedesktop.org/standards/"
                      "shared-mime-info\">\n";
    for (const InputFormat& format : inputFormats())
        for (const MimeType& type : format.mimeTypes)
            if (type.comment)
                xml += mimeTypeXml(type);
    return xml + "</mime-info>\n";
}

std::string mimeTypeList() {
    std::string list;
    for (const InputFormat& format : inputFormats())
        for (const MimeType& type : format.mimeTypes)
            list += std::string(type.name) + (type.suffixes.empty() ? "" : " ") +
                    joined(type.suffixes, " ") + "\n";
    return list;
}

std::vector<LauncherOption> launcherOptions(const std::string& help) {
    // "  -h, --help   text" or "  --size N   text": names, a value, then a gap or the end.
    static const std::regex item(R"(^  ((-[A-Za-z], )?--[a-z][a-z-]*)( [A-Z]+)?(  .*)?$)");
    std::vector<LauncherOption> options;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_match(line, match, item))
            continue;
        LauncherOption option;
        std::istringstream names(match[1].str());
        for (std::string name; std::getline(names >> std::ws, name, ',');)
            option.names.push_back(name);
        option.takesValue = match[3].matched;
        options.push_back(option);
    }
    return options;
}

std::string bashCompletion(const std::vector<Command>& commands,
                           const std::vector<LauncherOption>& launcher) {
    std::vector<std::string> names, launcherNames, launcherValues;
    std::string branches;
    for (const Command& command : commands) {
        names.push_back(command.name);
        branches += commandBranch(command);
    }
    for (const LauncherOption& option : launcher) {
        launcherNames.insert(launcherNames.end(), option.names.begin(), option.names.end());
        if (option.takesValue)
            launcherValues.insert(launcherValues.end(), option.names.begin(), option.names.end());
    }
    std::string script = completionHead + branches + completionTail;
    fill(&script, "@INPUTS@", joined(packSuffixes(), " "));
    fill(&script, "@PICTURES@", joined(pictureSuffixes(), " "));
    fill(&script, "@COMMANDS@", joined(names, " "));
    fill(&script, "@LAUNCHER_OPTIONS@", joined(launcherNames, " "));
    fill(&script, "@LAUNCHER_VALUES@", joined(launcherValues, " "));
    return script;
}
