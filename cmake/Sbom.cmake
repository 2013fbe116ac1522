# cmake -DINVENTORY=third-party.json -DPROGRAM=svcentry.exe -DVERSION=...
#       -DEPOCH=... -DOUTPUT=svcentry-VERSION.cdx.json -P Sbom.cmake
#
# Writes the CycloneDX 1.6 SBOM of PROGRAM: the program itself (its version,
# license and SHA-256) and every component that INVENTORY, written with the
# notices from the same link map, names. The same inputs give the same bytes:
# the time is EPOCH, and the serial number is derived from all the rest.
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
file(SHA256 "${PROGRAM}" program_hash)
set(ENV{SOURCE_DATE_EPOCH} "${EPOCH}")
string(TIMESTAMP timestamp "%Y-%m-%dT%H:%M:%SZ" UTC)
string(UUID serial NAMESPACE ${namespace}
       NAME "${VERSION} ${program_hash} ${timestamp} ${inventory}" TYPE SHA1)

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
set_string(bom "svcentry.exe: adds the gds_db service entry to the services file"
  metadata component description)
string(JSON bom SET "${bom}" metadata component supplier
  "{\"name\":\"The svcentry authors\"}")
string(JSON bom SET "${bom}" metadata component licenses
  "[{\"license\":{\"id\":\"MIT\"}}]")
string(JSON bom SET "${bom}" metadata component hashes
  "[{\"alg\":\"SHA-256\",\"content\":\"${program_hash}\"}]")

string(JSON bom SET "${bom}" components "[]")
set(depends_on "[]")
string(JSON count LENGTH "${inventory}" components)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  foreach(field name description package version purl license)
    string(JSON ${field} GET "${inventory}" components ${i} ${field})
  endforeach()
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
  json_string("${purl}" reference)
  string(JSON depends_on SET "${depends_on}" ${i} "${reference}")
endforeach()
string(JSON bom SET "${bom}" dependencies
  "[{\"ref\":\"svcentry\",\"dependsOn\":${depends_on}}]")
file(WRITE "${OUTPUT}" "${bom}\n")
