# Turns src/whois/whois_servers.list into the header that holds the compiled WHOIS server
# table and registrarWhoisHost. The build runs it whenever the list changes:
#
#   cmake -DLIST=whois_servers.list -DHEADER=whois/whois_server_table.h -DICONV=/usr/bin/iconv
#         -P whois_server_table.cmake
#
# ASCII keys are copied as they are; a key with other characters is converted from UTF-8 to
# GBK by iconv and written as \x escapes. Anything the table could not hold stops the build
# with the list's line named: a line of the wrong shape, a server name used before its
# "@name host" line, defined twice or never used, a host that is no host name, a host written
# for two keys instead of named once, a key written twice, a key with a dot, an upper-case
# letter or another character no label holds, a key iconv cannot convert.
cmake_minimum_required(VERSION 3.25)

foreach(var LIST HEADER ICONV)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "whois_server_table.cmake: -D${var}=... is missing")
  endif()
endforeach()

set(label_part "[a-z0-9]([a-z0-9-]*[a-z0-9])?")
set(host_pattern "^${label_part}(\\.${label_part})+$")
set(scratch "${HEADER}.key")

function(fail text)
  file(REMOVE "${scratch}" "${scratch}.gbk")
  message(FATAL_ERROR "${LIST}:${line_number}: ${text}")
endfunction()

function(check_host host)
  if(NOT host MATCHES "${host_pattern}")
    fail("\"${host}\" is no host name (lower-case labels of letters, digits and '-', \
joined by dots)")
  endif()
endfunction()

# Sets key_literal to the C++ string literal of the key's GBK bytes and key_hex to those
# bytes in hex.
function(gbk_literal key)
  if(key MATCHES "\\.")
    fail("the key \"${key}\" holds a dot; a key is the last label alone, as in \"com\"")
  endif()
  if(key MATCHES "[A-Z]")
    fail("the key \"${key}\" has upper-case letters; keys are lower case (lookups \
compare bytes)")
  endif()
  if(key MATCHES "^[a-z0-9-]+$")
    string(HEX "${key}" hex)
  else()
    file(WRITE "${scratch}" "${key}")
    execute_process(COMMAND "${ICONV}" -f UTF-8 -t GBK "${scratch}"
                    OUTPUT_FILE "${scratch}.gbk" ERROR_VARIABLE error RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      string(STRIP "${error}" error)
      fail("iconv cannot convert the key \"${key}\" from UTF-8 to GBK: ${error}")
    endif()
    file(READ "${scratch}.gbk" hex HEX)
  endif()

  # Walk the GBK bytes: an ASCII byte stands for itself and must be a label character; a byte
  # of 0x81 or more leads a double-byte character whose second byte may look like ASCII.
  string(LENGTH "${hex}" length)
  set(literal "")
  set(after_escape FALSE)
  set(trail FALSE)
  set(i 0)
  while(i LESS length)
    string(SUBSTRING "${hex}" ${i} 2 byte)
    math(EXPR value "0x${byte}")
    math(EXPR i "${i} + 2")
    if(trail OR value GREATER_EQUAL 128)
      if(trail)
        set(trail FALSE)
      elseif(value GREATER_EQUAL 129)
        set(trail TRUE)
      endif()
      string(TOUPPER "${byte}" byte)
      string(APPEND literal "\\x${byte}")
      set(after_escape TRUE)
      continue()
    endif()
    string(ASCII ${value} char)
    if(NOT char MATCHES "^[a-z0-9-]$")
      fail("the key \"${key}\" holds \"${char}\", which no domain label holds")
    endif()
    # A hex digit right after an escape would extend it, so the literal is split there.
    if(after_escape AND char MATCHES "^[0-9a-f]$")
      string(APPEND literal "\" \"")
    endif()
    string(APPEND literal "${char}")
    set(after_escape FALSE)
  endwhile()
  set(key_literal "\"${literal}\"" PARENT_SCOPE)
  set(key_hex "${hex}" PARENT_SCOPE)
endfunction()

file(READ "${LIST}" content)
set(line_number 0)
set(names "")
set(entries "")
while(NOT content STREQUAL "")
  string(FIND "${content}" "\n" end)
  if(end EQUAL -1)
    set(line "${content}")
    set(content "")
  else()
    string(SUBSTRING "${content}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${content}" ${end} -1 content)
  endif()
  math(EXPR line_number "${line_number} + 1")

  string(FIND "${line}" "#" comment)
  if(NOT comment EQUAL -1)
    string(SUBSTRING "${line}" 0 ${comment} line)
  endif()
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^([^ \t]+)[ \t]+([^ \t]+)$")
    fail("\"${line}\" is not \"key host\", \"key @name\" or \"@name host\"")
  endif()
  set(first "${CMAKE_MATCH_1}")
  set(second "${CMAKE_MATCH_2}")

  # Variables are named after a server name without its "@": host_of_NAME, used_NAME.
  if(first MATCHES "^@")
    if(NOT first MATCHES "^@([a-z][a-z0-9-]*)$")
      fail("\"${first}\" is no server name (@, then lower-case letters, digits and '-')")
    endif()
    set(name "${CMAKE_MATCH_1}")
    if(DEFINED "host_of_${name}")
      fail("${first} is defined twice")
    endif()
    check_host("${second}")
    if(DEFINED "name_of_${second}")
      fail("${second} is named @${name_of_${second}} already")
    endif()
    if(DEFINED "key_of_${second}")
      fail("${second} is written for the key \"${key_of_${second}}\" above; define ${first} \
before its first key")
    endif()
    set("host_of_${name}" "${second}")
    set("name_of_${second}" "${name}")
    set("used_${name}" FALSE)
    list(APPEND names "${name}")
    continue()
  endif()

  gbk_literal("${first}")
  if(DEFINED "line_of_key_${key_hex}")
    fail("the key \"${first}\" is already on line ${line_of_key_${key_hex}}")
  endif()
  set("line_of_key_${key_hex}" ${line_number})

  if(second MATCHES "^@(.*)$")
    set(name "${CMAKE_MATCH_1}")
    if(NOT name MATCHES "^[a-z][a-z0-9-]*$" OR NOT DEFINED "host_of_${name}")
      fail("the server name ${second} is unknown; define it above with \"${second} host\"")
    endif()
    set("used_${name}" TRUE)
    if(name STREQUAL "registrar")
      set(server registrarWhoisHost)
    else()
      set(server "\"${host_of_${name}}\"")
    endif()
  else()
    check_host("${second}")
    if(DEFINED "name_of_${second}")
      fail("${second} is named @${name_of_${second}}; write \"${first} @${name_of_${second}}\"")
    endif()
    if(DEFINED "key_of_${second}")
      fail("${second} is also the server of \"${key_of_${second}}\"; name it once with \
\"@name ${second}\" and give both keys @name")
    endif()
    set("key_of_${second}" "${first}")
    set(server "\"${second}\"")
  endif()

  string(APPEND entries "    {${key_literal}, ${server}},")
  if(NOT first MATCHES "^[a-z0-9-]+$")
    string(APPEND entries "  // ${first}")
  endif()
  string(APPEND entries "\n")
endwhile()
set(line_number "end")

if(NOT DEFINED host_of_registrar)
  fail("the registrar's server is missing; add \"@registrar host\"")
endif()
foreach(name IN LISTS names)
  if(NOT used_${name})
    fail("the server name @${name} is defined but no key uses it")
  endif()
endforeach()
if(entries STREQUAL "")
  fail("the list holds no key")
endif()

file(REMOVE "${scratch}" "${scratch}.gbk")
file(WRITE "${HEADER}.new"
"// Made by the build from src/whois/whois_servers.list (cmake/whois_server_table.cmake): edit
// the list, not this file. Included by whois/whois_servers.h, after WhoisServerEntry.
#pragma once

#include <string_view>

namespace tessaly {

// The host of @registrar in the list.
inline constexpr std::string_view registrarWhoisHost = \"${host_of_registrar}\";

namespace whois_server_list {

// Every key of the list with its server, in the list's order.
inline constexpr WhoisServerEntry entries[] = {
${entries}};

}  // namespace whois_server_list
}  // namespace tessaly
")
file(RENAME "${HEADER}.new" "${HEADER}")
