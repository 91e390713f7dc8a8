cmake_minimum_required(VERSION 3.25)
# Writes OUTPUT, a C++ source holding each fixtures/k{K}_expected.txt named in
# SIZES as a constant character array plus its length. A fixture file that
# does not exist becomes an empty text. Invoked at build time so that editing
# a fixture rebuilds the program.
set(body "// Generated at build time from the files under fixtures/; do not edit.\n")
string(APPEND body "#include \"census/embedded_fixtures.h\"\n\nnamespace tilvane {\nnamespace {\n")
set(cases "")
foreach(k IN LISTS SIZES)
  set(path "${FIXTURE_DIR}/k${k}_expected.txt")
  if(EXISTS "${path}")
    file(READ "${path}" text)
  else()
    set(text "")
  endif()
  string(LENGTH "${text}" length)
  # A raw string literal keeps the text byte for byte; fixtures hold only
  # digits, blanks and line feeds, so the delimiter cannot occur inside.
  string(APPEND body "constexpr char k${k}_text[] = R\"TILVANEFIXTURE(${text})TILVANEFIXTURE\";\n")
  string(APPEND body "constexpr std::size_t k${k}_length = ${length};\n")
  string(APPEND cases "    case ${k}:\n      return {k${k}_text, k${k}_length};\n")
endforeach()
string(APPEND body "}  // namespace\n\nstd::string_view embedded_fixture_text(std::size_t k) {\n  switch (k) {\n")
string(APPEND body "${cases}    default:\n      return {};\n  }\n}\n\n}  // namespace tilvane\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
