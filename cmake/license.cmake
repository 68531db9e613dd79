# Writes license.txt: Velmora's own licence followed by the licence texts of
# the seven libraries, as their source packages ship them. A licence missing
# from the dependency folder stops the build.
file(READ "${OWN}" TEXT)
foreach(entry "Zstandard|zstd.txt" "cJSON|cJSON.txt" "libarchive|libarchive.txt" "bzip2|bzip2.txt"
              "liblzma (XZ Utils)|liblzma.txt" "minizip|minizip.txt" "zlib|zlib.txt")
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 file)
    file(READ "${LICENSES}/${file}" body)
    # (bzip2's and XZ Utils' texts open with blank lines)
    string(REGEX REPLACE "^[\r\n]+" "" body "${body}")
    string(APPEND TEXT "\n\n${name}\n")
    string(LENGTH "${name}" width)
    string(REPEAT "=" ${width} rule)
    string(APPEND TEXT "${rule}\n\n${body}")
endforeach()
string(REPLACE "\r\n" "\n" TEXT "${TEXT}")
string(REPLACE "\n" "\r\n" TEXT "${TEXT}")
file(WRITE "${OUTPUT}" "${TEXT}")
