# The folders of src/, bottom first: each includes only itself and those below
# it. src/CMakeLists.txt adds them in this order, tests/layers checks the
# includes against it and that README.md quotes it. Read in script mode too, so
# keep it to this one line of data.
set(ULMORA_LAYERS platform base widgets log config plugins browse plates crash app)
