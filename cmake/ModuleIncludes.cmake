# Fails when a module includes one it may not use: dependencies run one way, down. Run as a script at build time
# (cmake -DSOURCE_DIR=... -P ModuleIncludes.cmake), so that a new include is checked before anything compiles.
#
cmake_minimum_required(VERSION 3.25)

# Each module is a folder; `Vellora` alone is its top-level files (the program: main.cpp, the module it loads). What a
# module may use directly; it may also use what those use, and so on down.
set(kModuleUses
    "JsonText:"
    "SyncKit:JsonText"
    "GlobalShortcuts:"
    "Cloud:SyncKit"
    "Vellora/Files:"
    "Vellora/DayData:JsonText,Vellora/Files"
    "Vellora/Sync:Vellora/DayData,SyncKit"
    "Vellora/Commands:Vellora/DayData"
    "Vellora/Paper:Vellora/DayData"
    "Vellora/Sheet:Vellora/Paper"
    "Vellora/Platform:Vellora/Files"
    "Vellora/Shell:Vellora/Sheet,Vellora/Platform,Vellora/Commands,Vellora/Sync,GlobalShortcuts"
    "cli:Vellora/Commands,Vellora/Platform,Vellora/Sync"
    "Vellora:Vellora/Shell,cli"
)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "ModuleIncludes.cmake needs -DSOURCE_DIR=<the source tree>")
endif()

# Only modules whose folder exists take part: one not written yet is neither checked nor named.
set(modules "")
foreach(entry IN LISTS kModuleUses)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 module)
    if(IS_DIRECTORY ${SOURCE_DIR}/${module})
        list(APPEND modules ${module})
        list(LENGTH parts count)
        set(uses "")
        if(count GREATER 1)
            list(GET parts 1 uses)
            string(REPLACE "," ";" uses "${uses}")
        endif()
        set(direct_${module} ${uses})
    endif()
endforeach()

# Everything below a module, following the arrows down.
foreach(module IN LISTS modules)
    set(below "")
    set(todo ${direct_${module}})
    while(todo)
        list(POP_FRONT todo next)
        if(NOT next IN_LIST below AND next IN_LIST modules)
            list(APPEND below ${next})
            list(APPEND todo ${direct_${next}})
        endif()
    endwhile()
    set(below_${module} ${below})
endforeach()

# The module an include names: the longest module folder its path starts with; none for a header of no module.
function(module_of path out)
    set(found "")
    foreach(module IN LISTS modules)
        string(LENGTH "${module}" length)
        string(LENGTH "${found}" found_length)
        if(path MATCHES "^${module}/[^/]+$" OR (path MATCHES "^${module}/" AND NOT module STREQUAL "Vellora"))
            if(length GREATER found_length)
                set(found ${module})
            endif()
        endif()
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(failures "")
foreach(module IN LISTS modules)
    if(module STREQUAL "Vellora")
        file(GLOB sources ${SOURCE_DIR}/Vellora/*.h ${SOURCE_DIR}/Vellora/*.cpp)
    else()
        file(GLOB_RECURSE sources ${SOURCE_DIR}/${module}/*.h ${SOURCE_DIR}/${module}/*.cpp)
    endif()
    foreach(source IN LISTS sources)
        file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/[^\"]+\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" path "${line}")
            module_of("${path}" used)
            if(used AND NOT used STREQUAL module AND NOT used IN_LIST below_${module})
                file(RELATIVE_PATH file ${SOURCE_DIR} ${source})
                string(REPLACE ";" ", " allowed "${below_${module}}")
                if(NOT allowed)
                    set(allowed "no other module")
                endif()
                string(APPEND failures "  ${file}: #include \"${path}\": ${module} may not use ${used} "
                    "(it may use ${allowed})\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(failures)
    message(FATAL_ERROR "A module includes one above it or beside it; dependencies run one way "
        "(see cmake/ModuleIncludes.cmake):\n${failures}")
endif()
