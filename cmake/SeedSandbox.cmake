# Copies SAMPLE to SERVICES unless SERVICES exists: a file the tool already
# changed is never overwritten.
if(NOT EXISTS "${SERVICES}")
  get_filename_component(directory "${SERVICES}" DIRECTORY)
  file(MAKE_DIRECTORY "${directory}")
  file(COPY_FILE "${SAMPLE}" "${SERVICES}")
endif()
