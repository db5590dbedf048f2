#include "completion.h"

#include <map>
#include <sstream>

namespace tesselctl {

namespace {

// Words completed after each chain of subcommands ("" is the top level,
// "/config" the words after "config").
void Collect(CLI::App& app, const std::string& chain, std::map<std::string, std::string>& words) {
    std::string& list = words[chain];
    for (CLI::App* sub : app.get_subcommands({})) {
        list += sub->get_name() + " ";
        Collect(*sub, chain + "/" + sub->get_name(), words);
    }
    for (const CLI::Option* option : app.get_options({})) {
        for (const auto& name : option->get_lnames()) list += "--" + name + " ";
        for (const auto& name : option->get_snames()) list += "-" + name + " ";
    }
}

}  // namespace

std::string BashCompletion(CLI::App& app) {
    std::map<std::string, std::string> words;
    Collect(app, "", words);
    const std::string name = app.get_name();
    std::ostringstream out;
    out << "# bash completion for " << name << "; source it, or install it as\n"
        << "# /usr/share/bash-completion/completions/" << name << "\n"
        << "_" << name << "() {\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} chain=\"\" w words\n"
        << "    for w in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
        << "        case \"$chain/$w\" in\n";
    for (const auto& entry : words)
        if (!entry.first.empty()) out << "            " << entry.first << ") chain=$chain/$w ;;\n";
    out << "        esac\n"
        << "    done\n"
        << "    if [[ $cur == /* ]]; then\n"
        << "        local dir=${cur%/*}/\n"
        << "        COMPREPLY=($(compgen -W \"$(" << name
        << " ls \"$dir\" 2>/dev/null | sed \"s|^|$dir|\")\" -- \"$cur\"))\n"
        << "        [[ ${COMPREPLY[0]} == */ ]] && compopt -o nospace 2>/dev/null\n"
        << "        return\n"
        << "    fi\n"
        << "    case \"$chain\" in\n";
    for (const auto& entry : words)
        out << "        \"" << entry.first << "\") words=\"" << entry.second << "\" ;;\n";
    out << "    esac\n"
        << "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
        << "}\n"
        << "complete -F _" << name << " " << name << "\n";
    return out.str();
}

}  // namespace tesselctl
