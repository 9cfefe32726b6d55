# Writes the text of INPUT as a C++ raw string literal into OUTPUT, for a file the builder ships
# inside itself.
file(READ "${INPUT}" content)
file(WRITE "${OUTPUT}" "R\"ubinshipped(${content})ubinshipped\"\n")
