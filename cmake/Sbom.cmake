# cmake -DINVENTORY=third-party.json -DFILES="svcentry.exe;svcentry-msi.dll"
#       -DVERSION=... -DEPOCH=... -DOUTPUT=svcentry-VERSION.cdx.json
#       -P Sbom.cmake
#
# Writes the CycloneDX 1.6 SBOM of the release: svcentry itself (its version
# and license), each of its binaries in FILES with its SHA-256, and every
# component that INVENTORY, written with the notices from the binaries' link
# maps, names, with the binaries that hold it. The same inputs give the same
# bytes: the time is EPOCH, and the serial number is derived from all the
# rest.
cmake_minimum_required(VERSION 3.25)
# Derived UUIDs of svcentry's SBOMs live in this namespace.
set(namespace 8b3db88b-863c-493c-84ad-697c63c4c09c)

include(${CMAKE_CURRENT_LIST_DIR}/JsonString.cmake)

# set_string(VARIABLE VALUE PATH...): sets the member at PATH of the JSON
# document VARIABLE to the string VALUE. VALUE is a parameter of its own, so
# that a `;` in it stays.
function(set_string variable value)
  json_string("${value}" value)
  string(JSON document SET "${${variable}}" ${ARGN} "${value}")
  set(${variable} "${document}" PARENT_SCOPE)
endfunction()

file(READ "${INVENTORY}" inventory)
set(identity "${VERSION}")
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  file(SHA256 "${path}" hash_${name})
  string(APPEND identity " ${name} ${hash_${name}}")
endforeach()
set(ENV{SOURCE_DATE_EPOCH} "${EPOCH}")
string(TIMESTAMP timestamp "%Y-%m-%dT%H:%M:%SZ" UTC)
string(UUID serial NAMESPACE ${namespace}
       NAME "${identity} ${timestamp} ${inventory}" TYPE SHA1)

set(bom "{}")
set_string(bom "http://cyclonedx.org/schema/bom-1.6.schema.json" "$schema")
set_string(bom CycloneDX bomFormat)
set_string(bom 1.6 specVersion)
set_string(bom "urn:uuid:${serial}" serialNumber)
string(JSON bom SET "${bom}" version 1)
string(JSON bom SET "${bom}" metadata
  "{\"lifecycles\":[{\"phase\":\"build\"}],\"component\":{}}")
set_string(bom "${timestamp}" metadata timestamp)
set_string(bom application metadata component type)
set_string(bom svcentry metadata component bom-ref)
set_string(bom svcentry metadata component name)
set_string(bom "${VERSION}" metadata component version)
set_string(bom "Adds the gds_db service entry to the services file"
  metadata component description)
set(supplier "{\"name\":\"The svcentry authors\"}")
set(mit "[{\"license\":{\"id\":\"MIT\"}}]")
string(JSON bom SET "${bom}" metadata component supplier "${supplier}")
string(JSON bom SET "${bom}" metadata component licenses "${mit}")

# What each binary is, by its name.
set(kind_svcentry.exe application)
set(about_svcentry.exe "The program, run by installers and from the command line")
set(kind_svcentry-msi.dll library)
set(about_svcentry-msi.dll
  "The same registration as an MSI custom action, RegisterServiceEntry")

# The binaries first, then the components they hold. Each binary depends
# on the components it holds; svcentry on its binaries.
string(JSON bom SET "${bom}" components "[]")
set(binaries "[]")
set(i 0)
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  string(JSON bom SET "${bom}" components ${i} "{}")
  set_string(bom "${kind_${name}}" components ${i} type)
  set_string(bom "${name}" components ${i} bom-ref)
  set_string(bom "${name}" components ${i} name)
  set_string(bom "${VERSION}" components ${i} version)
  set_string(bom "${about_${name}}" components ${i} description)
  string(JSON bom SET "${bom}" components ${i} supplier "${supplier}")
  string(JSON bom SET "${bom}" components ${i} licenses "${mit}")
  string(JSON bom SET "${bom}" components ${i} hashes
    "[{\"alg\":\"SHA-256\",\"content\":\"${hash_${name}}\"}]")
  json_string("${name}" reference)
  string(JSON binaries SET "${binaries}" ${i} "${reference}")
  set(depends_on_${name} "[]")
  math(EXPR i "${i} + 1")
endforeach()
set(binary_count ${i})

string(JSON count LENGTH "${inventory}" components)
math(EXPR last "${count} - 1")
foreach(c RANGE ${last})
  foreach(field name description package version purl license)
    string(JSON ${field} GET "${inventory}" components ${c} ${field})
  endforeach()
  json_string("${purl}" reference)
  string(JSON holder_count LENGTH "${inventory}" components ${c} programs)
  math(EXPR last_holder "${holder_count} - 1")
  foreach(h RANGE ${last_holder})
    string(JSON holder GET "${inventory}" components ${c} programs ${h})
    if(NOT DEFINED depends_on_${holder})
      message(FATAL_ERROR "${holder} holds ${name}, but FILES lacks it")
    endif()
    string(JSON n LENGTH "${depends_on_${holder}}")
    string(JSON depends_on_${holder} SET "${depends_on_${holder}}" ${n}
      "${reference}")
  endforeach()
  math(EXPR i "${binary_count} + ${c}")
  string(JSON bom SET "${bom}" components ${i}
    "{\"type\":\"library\",\"scope\":\"required\"}")
  set_string(bom "${purl}" components ${i} bom-ref)
  set_string(bom "${package}" components ${i} name)
  set_string(bom "${version}" components ${i} version)
  set_string(bom "${name}: ${description}" components ${i} description)
  set_string(bom "${purl}" components ${i} purl)
  json_string("${license}" license)
  string(JSON bom SET "${bom}" components ${i} licenses
    "[{\"expression\":${license}}]")
endforeach()

string(JSON bom SET "${bom}" dependencies
  "[{\"ref\":\"svcentry\",\"dependsOn\":${binaries}}]")
set(d 1)
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  json_string("${name}" reference)
  string(JSON bom SET "${bom}" dependencies ${d}
    "{\"ref\":${reference},\"dependsOn\":${depends_on_${name}}}")
  math(EXPR d "${d} + 1")
endforeach()
file(WRITE "${OUTPUT}" "${bom}\n")
