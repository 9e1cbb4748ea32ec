# Makes the manual page terralux.1 from its template and README.md, so that the page's key and
# settings tables are the README's own:
#
#   cmake -DREADME=README.md -DTEMPLATE=terralux.1.in -DOUTPUT=terralux.1 -DVERSION=1.0.0
#         -DSUMMARY=... -DDATADIR=/usr/share/terralux -P manpage.cmake
#
# The template's @KEYS@ and @CONFIG@ become the README's sections "Keys and mouse" and
# "config.xml", and @VERSION@, @SUMMARY@, @DATADIR@ and @DATE@ the values given (the date is
# today's, or that of SOURCE_DATE_EPOCH). The README's Markdown is taken as it is written there:
# paragraphs, fenced code, and tables of two columns, each row of which becomes a tagged
# paragraph; `code` becomes bold.

# Lines as a CMake list: the characters that lists treat specially are stood in for first.
file(READ "${README}" readme)
string(REPLACE ";" "@SEMICOLON@" readme "${readme}")
string(REPLACE "[" "@OPEN@" readme "${readme}")
string(REPLACE "]" "@CLOSE@" readme "${readme}")
string(REPLACE "\n" ";" readme_lines "${readme}")

# Text to roff: backslashes escaped, code spans bold (a hyphen in them is a minus sign), and a
# leading dot or quote kept from being read as a request.
function(roff_text text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX MATCHALL "`[^`]*`|[^`]+" pieces "${text}")
    set(result "")
    foreach(piece IN LISTS pieces)
        if(piece MATCHES "^`(.*)`$")
            string(REPLACE "-" "\\-" code "${CMAKE_MATCH_1}")
            string(APPEND result "\\fB${code}\\fR")
        else()
            string(APPEND result "${piece}")
        endif()
    endforeach()
    if(result MATCHES "^[.']")
        set(result "\\&${result}")
    endif()
    set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The roff of one "## TITLE" section of the README.
function(section title out)
    set(result "")
    set(inside NO)
    set(state text)  # text, paragraph, table or code
    foreach(line IN LISTS readme_lines)
        if(line MATCHES "^## ")
            set(inside NO)
            if(line STREQUAL "## ${title}")
                set(inside YES)
            endif()
            continue()
        endif()
        if(NOT inside)
            continue()
        endif()
        if(state STREQUAL "code")
            if(line MATCHES "^```")
                string(APPEND result ".fi\n.RE\n")
                set(state text)
            else()
                string(REPLACE "\\" "\\e" line "${line}")
                string(APPEND result "\\&${line}\n")
            endif()
        elseif(line MATCHES "^```")
            string(APPEND result ".PP\n.RS\n.nf\n")
            set(state code)
        elseif(line MATCHES "^\\|")
            if(NOT state STREQUAL "table")
                set(state table)
                set(row 0)
            endif()
            math(EXPR row "${row} + 1")
            # The first row is the header and the second the rule under it.
            if(row GREATER 2)
                if(NOT line MATCHES "^\\| *(.*[^ ]) *\\| *(.*[^ ]) *\\|$")
                    message(FATAL_ERROR "manpage: not a row of two cells in ${README}: ${line}")
                endif()
                set(effect "${CMAKE_MATCH_2}")
                roff_text("${CMAKE_MATCH_1}" tag)
                roff_text("${effect}" body)
                string(APPEND result ".TP\n${tag}\n${body}\n")
            endif()
        elseif(line STREQUAL "")
            set(state text)
        else()
            if(NOT state STREQUAL "paragraph")
                string(APPEND result ".PP\n")
                set(state paragraph)
            endif()
            roff_text("${line}" text)
            string(APPEND result "${text}\n")
        endif()
    endforeach()
    if(result STREQUAL "")
        message(FATAL_ERROR "manpage: ${README} has no section \"## ${title}\"")
    endif()
    string(STRIP "${result}" result)
    set(${out} "${result}" PARENT_SCOPE)
endfunction()

section("Keys and mouse" KEYS)
section("config.xml" CONFIG)
foreach(var KEYS CONFIG)
    string(REPLACE "@SEMICOLON@" ";" ${var} "${${var}}")
    string(REPLACE "@OPEN@" "[" ${var} "${${var}}")
    string(REPLACE "@CLOSE@" "]" ${var} "${${var}}")
endforeach()
string(TIMESTAMP DATE "%Y-%m-%d" UTC)

file(READ "${TEMPLATE}" page)
string(CONFIGURE "${page}" page @ONLY)
file(WRITE "${OUTPUT}" "${page}")
