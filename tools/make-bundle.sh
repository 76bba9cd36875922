#!/usr/bin/env bash
# Assembles a macOS application bundle around the Kovalu launcher.
# Runs with the bash 3.2 that macOS ships and with any later bash; needs only
# the usual POSIX utilities (awk, cp, ln, mkdir, mktemp, mv, od, paste, rm, sed,
# tr, wc), codesign for --sign, and the JDK's jlink, jdeps and java for --jlink.

set -euo pipefail

# errexit does not reach out of a command substitution: "x=$(f)" keeps going
# after f fails unless the assignment is followed by "|| exit 1", "local x=$(f)"
# hides f's status behind the one of local, and fail inside $(...) only leaves
# the subshell. So every $(...) that can fail is written as "x=$(f) || exit 1"
# (or "|| fail ...") on a variable declared beforehand.

prog=make-bundle.sh
nl='
'

usage() {
    cat <<'EOF'
Usage: make-bundle.sh --launcher FILE --name NAME --runtime JAVA_HOME
                      (--main-jar JAR | --main-class CLASS | --main-module MODULE[/CLASS])
                      [OPTION]...

Writes NAME.app: Contents/MacOS/NAME (the launcher), Contents/app/NAME.cfg,
the application files in Contents/app, Contents/Info.plist and the Java
runtime in Contents/runtime.

  --launcher FILE         the launcher executable (build/applauncher)
  --name NAME             the application name (a trailing .app is dropped)
  --runtime DIR           a Java runtime home (or a macOS .jdk bundle): copied
                          when it holds lib/libjli.dylib (macOS); when it holds
                          lib/libjli.so (Linux) the bundle only links to that
                          library
  --input PATH            a jar, file or directory copied into Contents/app
                          under its own name (repeatable)
  --main-jar JAR          the main jar, relative to Contents/app
  --main-class CLASS      the main class
  --main-module MODULE[/CLASS]
                          the main module
  --class-path ENTRY      a class path entry relative to Contents/app (repeatable)
  --module-path ENTRY     a module path entry relative to Contents/app (repeatable)
  --java-option OPTION    a Java option (repeatable); $APPDIR, $BINDIR and
                          $ROOTDIR in it are replaced by the launcher
  --argument ARG          a default application argument (repeatable); arguments
                          given to the launcher replace all of them
  --splash IMAGE          a splash image, copied into Contents/app
  --package NAME          the package name, written to Contents/app/.package; the
                          launcher then reads NAME.cfg from
                          ~/Library/Application Support/NAME first
  --identifier ID         CFBundleIdentifier (default: app.kovalu.NAME)
  --version VERSION       the bundle version (default: 1.0)
  --icon FILE.icns        the application icon, copied into Contents/Resources
  --sign IDENTITY         sign the runtime's Mach-O files, the launcher and the
                          bundle with codesign and the hardened runtime ('-'
                          signs ad hoc)
  --entitlements FILE     the entitlements for the launcher and the bundle
                          (with --sign; default: a file written as
                          NAME.entitlements beside NAME.app, holding what a
                          Java runtime needs under the hardened runtime)
  --output DIR            where NAME.app is written (default: .)
  --jlink                 instead of copying or linking the runtime, write a
                          runtime of only the modules the application needs
                          with the runtime's bin/jlink
  --add-modules LIST      with --jlink: the modules to link (comma-separated);
                          by default bin/jdeps finds them in the main jar, the
                          class path and the module path
  --jmods DIR             with --jlink: link from this jmods directory (another
                          platform's JDK of the same Java version) instead
  --force                 replace an existing NAME.app (and NAME.entitlements)
  --cds                   writes app.cds=auto: the launcher keeps a class-data
                          archive in ~/Library/Caches/<package or NAME> for a
                          faster start
  -h, --help              this text

Relative paths of --main-jar, --class-path and --module-path are written as
$APPDIR/PATH and must exist among the application files; absolute ones are
written unchanged and must exist.
EOF
}

fail() {
    printf '%s: %s\n' "$prog" "$1" >&2
    exit 1
}

# The launcher's configuration is line-based: a line break inside a value would
# silently become a second property.
check_line() {
    case $2 in
    *"$nl"*) fail "$1 must not contain a line break" ;;
    esac
}

# Resolves every symbolic link in a path to an existing file or directory.
real_path() {
    local p=$1 target dir
    while [ -L "$p" ]; do
        target=$(readlink "$p") || return 1
        case $target in
        /*) p=$target ;;
        *) p=$(dirname "$p")/$target ;;
        esac
    done
    if [ -d "$p" ]; then
        (cd "$p" && pwd -P)
    else
        dir=$(cd "$(dirname "$p")" && pwd -P) || return 1
        printf '%s/%s\n' "$dir" "$(basename "$p")"
    fi
}

# Info.plist cannot hold most control characters (XML forbids them) and the
# launcher's configuration and .package files are line-based, so a value bound
# for either must have none. tr counts bytes, so the check holds in any locale.
check_text() {
    local count
    count=$(printf '%s' "$2" | LC_ALL=C tr -cd '\000-\037\177' | wc -c) || exit 1
    [ $((count)) -eq 0 ] || fail "$1 must not contain control characters"
}

xml_escape() {
    printf '%s' "$1" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' \
        -e 's/"/\&quot;/g' -e "s/'/\\&apos;/g"
}

launcher= name= runtime= main_jar= main_class= main_module= splash= package=
identifier= version=1.0 output=. force=0 cds=0 have_package=0 icon= identity= entitlements=
inputs=() class_path=() module_path=() java_options=() arguments=()
runtime_home= runtime_mode= output_dir= target= staging= old= contents= app_dir=
bundle_dir= entitlements_target= entitlements_tmp=
jlink=0 add_modules= have_add_modules=0 jmods= jmods_dir= java_feature= other_platform=

parse_arguments() {
    local opt value
    while [ $# -gt 0 ]; do
        opt=$1
        case $opt in
        -h | --help)
            usage
            exit 0
            ;;
        --force)
            force=1
            shift
            continue
            ;;
        --cds)
            cds=1
            shift
            continue
            ;;
        --jlink)
            jlink=1
            shift
            continue
            ;;
        --launcher | --name | --runtime | --input | --main-jar | --main-class | --main-module | \
            --class-path | --module-path | --java-option | --argument | --splash | --package | \
            --identifier | --version | --output | --icon | --sign | --entitlements | \
            --add-modules | --jmods) ;;
        *) fail "unknown option: $opt (try --help)" ;;
        esac
        [ $# -ge 2 ] || fail "$opt needs a value"
        value=$2
        shift 2
        check_line "$opt" "$value"
        case $opt in
        --name | --main-jar | --main-class | --main-module | --class-path | --module-path | \
            --java-option | --argument | --splash | --package | --identifier | --version | --icon)
            check_text "$opt" "$value"
            ;;
        esac
        case $opt in
        --launcher) launcher=$value ;;
        --name) name=$value ;;
        --runtime) runtime=$value ;;
        --input) inputs+=("$value") ;;
        --main-jar) main_jar=$value ;;
        --main-class) main_class=$value ;;
        --main-module) main_module=$value ;;
        --class-path) class_path+=("$value") ;;
        --module-path) module_path+=("$value") ;;
        --java-option) java_options+=("$value") ;;
        --argument) arguments+=("$value") ;;
        --splash) splash=$value ;;
        --package) package=$value have_package=1 ;;
        --identifier) identifier=$value ;;
        --version) version=$value ;;
        --output) output=$value ;;
        --icon) icon=$value ;;
        --sign) identity=$value ;;
        --entitlements) entitlements=$value ;;
        --add-modules) add_modules=$value have_add_modules=1 ;;
        --jmods) jmods=$value ;;
        esac
    done
}

check_options() {
    local mains entry
    [ -n "$launcher" ] || fail "missing --launcher"
    [ -n "$name" ] || fail "missing --name"
    [ -n "$runtime" ] || fail "missing --runtime"

    case $name in
    . | .. | */*) fail "--name must be a plain file name: $name" ;;
    esac
    # NAME.app would otherwise become NAME.app.app.
    case ${name%.app} in
    '' | . | ..) fail "--name must be a plain file name: $name" ;;
    esac
    name=${name%.app}

    mains=0
    [ -z "$main_jar" ] || mains=$((mains + 1))
    [ -z "$main_class" ] || mains=$((mains + 1))
    [ -z "$main_module" ] || mains=$((mains + 1))
    [ $mains -eq 1 ] || fail "give exactly one of --main-jar, --main-class and --main-module"

    if [ $have_package -eq 1 ] && [ -z "$package" ]; then
        fail "--package must not be empty"
    fi
    # The launcher takes the package name as a directory name.
    case $package in
    . | .. | */*) fail "--package must be a plain name: $package" ;;
    esac
    [ -n "$version" ] || fail "--version must not be empty"
    if [ -z "$identifier" ]; then
        identifier=app.kovalu.$(printf '%s' "$name" | sed -e 's/[^A-Za-z0-9.-]/-/g') || exit 1
    fi
    case $identifier in
    *[!A-Za-z0-9.-]*) fail "--identifier may hold only letters, digits, '.' and '-': $identifier" ;;
    esac

    [ -f "$launcher" ] || [ ! -e "$launcher" ] || fail "launcher is not a regular file: $launcher"
    [ -f "$launcher" ] || fail "launcher not found: $launcher"
    [ -x "$launcher" ] || fail "launcher is not executable: $launcher"
    [ -d "$runtime" ] || fail "Java runtime home not found: $runtime"
    [ -d "$output" ] || fail "output directory not found: $output"
    [ -z "$splash" ] || [ -f "$splash" ] || fail "splash image not found: $splash"

    for entry in ${class_path[@]+"${class_path[@]}"} ${module_path[@]+"${module_path[@]}"}; do
        case $entry in
        '') fail "class and module path entries must not be empty" ;;
        *:*) fail "class and module path entries must not contain ':': $entry" ;;
        esac
    done

    check_inputs
    check_icon_and_signing
    check_runtime
    check_output
    check_jlink
}

check_icon_and_signing() {
    if [ -n "$icon" ]; then
        [ -f "$icon" ] || fail "icon not found: $icon"
        case $icon in
        *.icns) ;;
        *) fail "--icon needs an .icns file: $icon" ;;
        esac
    fi
    if [ -z "$identity" ]; then
        [ -z "$entitlements" ] || fail "--entitlements needs --sign"
        return 0
    fi
    command -v codesign >/dev/null 2>&1 || fail "--sign needs codesign, which is not on the PATH"
    [ -z "$entitlements" ] || [ -f "$entitlements" ] ||
        fail "entitlements file not found: $entitlements"
}

check_inputs() {
    local seen input base splash_base
    seen="$nl$name.cfg$nl.package$nl"
    for input in ${inputs[@]+"${inputs[@]}"}; do
        [ -e "$input" ] || fail "input not found: $input"
        # A trailing slash would make cp copy a directory's content, not the directory.
        while [ "${input%/}" != "$input" ] && [ "$input" != / ]; do input=${input%/}; done
        base=$(basename "$input") || exit 1
        case $base in
        . | .. | /) fail "--input needs a named file or directory: $input" ;;
        esac
        case $seen in
        *"$nl$base$nl"*) fail "$base would be in Contents/app twice (inputs, $name.cfg and .package need distinct names)" ;;
        esac
        seen="$seen$base$nl"
    done
    if [ -n "$splash" ]; then
        splash_base=$(basename "$splash") || exit 1
        case $seen in
        *"$nl$splash_base$nl"*) fail "the splash image would overwrite the application file $splash_base" ;;
        esac
    fi
}

check_runtime() {
    runtime_home=$(real_path "$runtime") || fail "cannot resolve the Java runtime home: $runtime"
    # A macOS JDK bundle (name.jdk) keeps its home in Contents/Home.
    if [ ! -d "$runtime_home/lib" ] && [ -d "$runtime_home/Contents/Home/lib" ]; then
        runtime_home=$runtime_home/Contents/Home
    fi
    if [ -e "$runtime_home/lib/libjli.dylib" ] || [ -e "$runtime_home/lib/jli/libjli.dylib" ]; then
        runtime_mode=copy
    elif [ -e "$runtime_home/lib/libjli.so" ]; then
        runtime_mode=link
    else
        fail "no lib/libjli.dylib or lib/libjli.so in the Java runtime home: $runtime"
    fi
}

check_output() {
    output_dir=$(real_path "$output") || fail "cannot resolve the output directory: $output"
    target=$output_dir/$name.app
    if [ -e "$target" ] || [ -L "$target" ]; then
        [ $force -eq 1 ] || fail "$target already exists (use --force to replace it)"
    fi
    if [ -n "$identity" ] && [ -z "$entitlements" ]; then
        entitlements_target=$output_dir/$name.entitlements
        [ ! -d "$entitlements_target" ] || fail "$entitlements_target is a directory"
        if [ -e "$entitlements_target" ] || [ -L "$entitlements_target" ]; then
            [ $force -eq 1 ] ||
                fail "$entitlements_target already exists (use --force to replace it)"
        fi
    fi
}

# Everything --jlink needs is checked before anything is written.
check_jlink() {
    local version
    if [ $jlink -eq 0 ]; then
        [ $have_add_modules -eq 0 ] || fail "--add-modules needs --jlink"
        [ -z "$jmods" ] || fail "--jmods needs --jlink"
        return 0
    fi
    [ -x "$runtime_home/bin/jlink" ] || fail "--jlink needs a JDK with bin/jlink: $runtime"
    if [ $have_add_modules -eq 1 ]; then
        case ,$add_modules, in
        *,,* | *[[:space:]]*) fail "--add-modules needs module names separated by commas: $add_modules" ;;
        esac
    else
        [ -x "$runtime_home/bin/jdeps" ] || fail "--jlink needs bin/jdeps to find the modules (or give --add-modules): $runtime"
    fi
    version=$(release_value "$runtime_home" JAVA_VERSION) || exit 1
    # jdeps reads a multi-release jar only when told which release to take.
    java_feature=${version%%[!0-9]*}
    [ -z "$jmods" ] || check_jmods "$version"
}

# jlink links another platform's modules only when they are of its own Java
# version.
check_jmods() {
    local home version platform host_platform
    [ -d "$jmods" ] || fail "jmods directory not found: $jmods"
    jmods_dir=$(real_path "$jmods") || fail "cannot resolve the jmods directory: $jmods"
    [ -f "$jmods_dir/java.base.jmod" ] || fail "no java.base.jmod in the jmods directory: $jmods"
    # A JDK keeps its release file beside its jmods directory.
    home=$(dirname "$jmods_dir") || exit 1
    version=$(release_value "$home" JAVA_VERSION) || exit 1
    if [ "$version" != "$1" ]; then
        fail "the jmods in $jmods are Java $version but the jlink of the runtime is Java $1: they must be the same"
    fi
    platform=$(release_platform "$home") || exit 1
    host_platform=$(release_platform "$runtime_home") || exit 1
    [ "$platform" = "$host_platform" ] || other_platform=$platform
}

# A value of the release file of a Java runtime home (lines KEY="VALUE").
release_value() {
    local value
    [ -f "$1/release" ] || fail "no release file in $1: cannot tell its Java version"
    value=$(sed -n "s/^$2=\"\\(.*\\)\"\$/\\1/p" "$1/release" | sed -n 1p) || exit 1
    [ -n "$value" ] || fail "no $2 in $1/release"
    printf '%s\n' "$value"
}

release_platform() {
    local os arch
    os=$(release_value "$1" OS_NAME) || exit 1
    arch=$(release_value "$1" OS_ARCH) || exit 1
    printf '%s %s\n' "$os" "$arch"
}

cleanup() {
    [ -z "$staging" ] || rm -rf "$staging"
    [ -z "$entitlements_tmp" ] || rm -f "$entitlements_tmp"
    [ -z "$old" ] || rm -rf "$old"
}

# Everything is built under a hidden name beside the target and renamed into
# place at the end, so an interrupted run never leaves a bundle that looks whole.
make_staging() {
    staging=$(mktemp -d "$output_dir/.$name.app.XXXXXX") || fail "cannot create a directory in $output_dir"
    trap cleanup EXIT
    trap 'exit 1' HUP INT TERM

    # The bundle has its final name inside the hidden directory, so that it is
    # signed as NAME.app.
    bundle_dir=$staging/$name.app
    contents=$bundle_dir/Contents
    app_dir=$contents/app
    mkdir -p "$contents/MacOS" "$app_dir" "$contents/runtime/Contents/Home"
}

copy_application() {
    local input
    cp "$launcher" "$contents/MacOS/$name" || fail "cannot copy the launcher: $launcher"
    chmod 755 "$contents/MacOS/$name"

    for input in ${inputs[@]+"${inputs[@]}"}; do
        while [ "${input%/}" != "$input" ] && [ "$input" != / ]; do input=${input%/}; done
        # Links are followed: the bundle must not point back into the build tree.
        cp -RL "$input" "$app_dir/" || fail "cannot copy $input"
    done
    if [ -n "$splash" ]; then
        cp "$splash" "$app_dir/" || fail "cannot copy the splash image: $splash"
    fi
}

# Turns a path given relative to the app directory into its configured form.
cfg_path() {
    case $2 in
    /*)
        [ -e "$2" ] || fail "$1 not found: $2"
        printf '%s' "$2"
        ;;
    *)
        [ -e "$app_dir/$2" ] || fail "$1 not found among the application files: $2"
        printf '%s' "\$APPDIR/$2"
        ;;
    esac
}

cfg_lines=
add_cfg() {
    cfg_lines="$cfg_lines$1$nl"
}

write_configuration() {
    local entry value option argument splash_base
    add_cfg "[Application]"
    add_cfg "app.version=$version"
    for entry in ${module_path[@]+"${module_path[@]}"}; do
        value=$(cfg_path "module path entry" "$entry") || exit 1
        add_cfg "app.modulepath=$value"
    done
    for entry in ${class_path[@]+"${class_path[@]}"}; do
        value=$(cfg_path "class path entry" "$entry") || exit 1
        add_cfg "app.classpath=$value"
    done
    if [ -n "$splash" ]; then
        splash_base=$(basename "$splash") || exit 1
        add_cfg "app.splash=\$APPDIR/$splash_base"
    fi
    [ -z "$main_module" ] || add_cfg "app.mainmodule=$main_module"
    [ -z "$main_class" ] || add_cfg "app.mainclass=$main_class"
    if [ -n "$main_jar" ]; then
        value=$(cfg_path "main jar" "$main_jar") || exit 1
        add_cfg "app.mainjar=$value"
    fi
    [ "$cds" = 0 ] || add_cfg "app.cds=auto"
    add_cfg ""
    add_cfg "[JavaOptions]"
    for option in ${java_options[@]+"${java_options[@]}"}; do
        add_cfg "java-options=$option"
    done
    add_cfg ""
    add_cfg "[ArgOptions]"
    for argument in ${arguments[@]+"${arguments[@]}"}; do
        add_cfg "arguments=$argument"
    done
    printf '%s' "$cfg_lines" >"$app_dir/$name.cfg"

    if [ $have_package -eq 1 ]; then
        printf '%s\n' "$package" >"$app_dir/.package"
    fi
}

write_info_plist() {
    local xml_name xml_version xml_icon icon_entry=
    xml_name=$(xml_escape "$name") || exit 1
    if [ -n "$icon" ]; then
        xml_icon=$(xml_escape "$(basename "$icon")") || exit 1
        icon_entry="  <key>CFBundleIconFile</key>$nl  <string>$xml_icon</string>$nl"
    fi
    xml_version=$(xml_escape "$version") || exit 1
    cat >"$contents/Info.plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleDevelopmentRegion</key>
  <string>en</string>
  <key>CFBundleExecutable</key>
  <string>$xml_name</string>
$icon_entry  <key>CFBundleIdentifier</key>
  <string>$identifier</string>
  <key>CFBundleInfoDictionaryVersion</key>
  <string>6.0</string>
  <key>CFBundleName</key>
  <string>$xml_name</string>
  <key>CFBundlePackageType</key>
  <string>APPL</string>
  <key>CFBundleShortVersionString</key>
  <string>$xml_version</string>
  <key>CFBundleVersion</key>
  <string>$xml_version</string>
  <key>LSMinimumSystemVersion</key>
  <string>11.0</string>
  <key>NSHighResolutionCapable</key>
  <true/>
</dict>
</plist>
EOF
}

place_runtime() {
    local home jli
    home=$contents/runtime/Contents/Home
    if [ $runtime_mode = copy ]; then
        rmdir "$home"
        cp -R "$runtime_home" "$home" || fail "cannot copy the Java runtime: $runtime_home"
    else
        # The runtime finds its home from its library's real path, so one link to
        # the library stands in for a whole copied runtime.
        mkdir -p "$home/lib"
        jli=$(real_path "$runtime_home/lib/libjli.so") || exit 1
        ln -s "$jli" "$home/lib/libjli.dylib"
    fi
}

copy_icon() {
    [ -n "$icon" ] || return 0
    mkdir -p "$contents/Resources"
    cp "$icon" "$contents/Resources/" || fail "cannot copy the icon: $icon"
}

write_default_entitlements() {
    entitlements_tmp=$(mktemp "$output_dir/.$name.entitlements.XXXXXX") ||
        fail "cannot create a file in $output_dir"
    entitlements=$entitlements_tmp
    chmod 644 "$entitlements"
    cat >"$entitlements" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>com.apple.security.cs.allow-jit</key>
  <true/>
  <key>com.apple.security.cs.allow-unsigned-executable-memory</key>
  <true/>
  <key>com.apple.security.cs.disable-library-validation</key>
  <true/>
  <key>com.apple.security.cs.allow-dyld-environment-variables</key>
  <true/>
</dict>
</plist>
EOF
}

# Java class files share the universal Mach-O magic; their major version (45
# or more) sits where a universal file keeps its small architecture count.
is_mach_o() {
    local magic count
    magic=$(od -A n -t x1 -N 8 "$1" | tr -d ' \n') || fail "cannot read $1"
    case $magic in
    cffaedfe* | cefaedfe*) return 0 ;;
    cafebabe000000??)
        count=$((16#${magic#cafebabe000000}))
        [ $count -ge 1 ] && [ $count -lt 45 ]
        ;;
    *) return 1 ;;
    esac
}

sign() {
    local path=$1
    shift
    local flags=(--force --sign "$identity")
    [ "$identity" = - ] || flags+=(--timestamp)
    flags+=(--options runtime)
    codesign "${flags[@]}" ${1+"$@"} "$path" ||
        fail "codesign failed on $target${path#"$bundle_dir"}"
}

# Nested code is signed before what holds it: the bundle's seal covers the
# signatures inside it, so signing outside first would break verification.
sign_bundle() {
    local file
    [ -n "$identity" ] || return 0
    [ -n "$entitlements" ] || write_default_entitlements
    # Links are skipped: what they point at inside the runtime is signed as a
    # file, and what they point at outside is not ours to sign.
    while IFS= read -r -d '' file; do
        if is_mach_o "$file"; then
            sign "$file"
        fi
    done < <(find "$contents/runtime" -type f -print0)
    sign "$contents/MacOS/$name" --entitlements "$entitlements"
    sign "$bundle_dir" --entitlements "$entitlements"
}

# The line of a Java tool's output that says what went wrong, without the
# exception names in front of it; else its first line.
reason() {
    local line
    line=$(printf '%s\n' "$1" | sed -n -E '/(Exception|Error): /{
s/^Exception in thread "[^"]*" //
s/^Error: //
s/^([A-Za-z0-9_.$]+(Exception|Error): )+//
p
q
}') || exit 1
    [ -n "$line" ] || line=$(printf '%s\n' "$1" | sed -n '/./{p;q;}') || exit 1
    printf '%s\n' "${line:-no output}"
}

# Where a path given relative to the app directory is in the bundle being built.
staged_path() {
    case $1 in
    /*) staged=$1 ;;
    *) staged=$app_dir/$1 ;;
    esac
}

# The first of the given paths that jdeps cannot read on its own, as given to
# the tool; empty when each can be read.
unreadable_root() {
    local root
    for root in "$@"; do
        if ! "$runtime_home/bin/jdeps" --print-module-deps --ignore-missing-deps \
            --multi-release "$java_feature" "$root" >/dev/null 2>&1; then
            printf '%s\n' "${root#"$app_dir"/}"
            return 0
        fi
    done
}

# The modules the application needs: what jdeps finds its classes use, and what
# the descriptors of its own modules require. jdeps leaves out a requirement
# that no class uses, yet the module system refuses to start without it.
app_modules() {
    local entry staged modpath= output found declared= bad modules
    local roots=() all=()
    for entry in ${main_jar:+"$main_jar"} ${class_path[@]+"${class_path[@]}"}; do
        staged_path "$entry"
        roots+=("$staged")
    done
    all=(${roots[@]+"${roots[@]}"})
    for entry in ${module_path[@]+"${module_path[@]}"}; do
        staged_path "$entry"
        modpath=${modpath:+$modpath:}$staged
        all+=("$staged")
    done
    [ ${#all[@]} -gt 0 ] ||
        fail "--jlink finds the modules in the main jar, class path and module path: give one of them, or --add-modules"
    set -- --print-module-deps --ignore-missing-deps --multi-release "$java_feature"
    [ -z "$modpath" ] || set -- "$@" --module-path "$modpath" --add-modules ALL-MODULE-PATH
    if ! output=$("$runtime_home/bin/jdeps" "$@" ${roots[@]+"${roots[@]}"} 2>&1); then
        bad=$(unreadable_root "${all[@]}") || exit 1
        fail "jdeps cannot analyse ${bad:-the application}: $(reason "$output")"
    fi
    found=$(printf '%s\n' "$output" | sed -n '/^[A-Za-z0-9_.][A-Za-z0-9_.,]*$/p' | sed -n '$p') || exit 1

    if [ -n "$main_module" ] && [ -n "$modpath" ]; then
        output=$("$runtime_home/bin/java" --module-path "$modpath" --show-module-resolution \
            --dry-run -m "$main_module" 2>&1) ||
            fail "the application's modules do not resolve: $(reason "$output")"
        # Lines "root M LOCATION" and "M requires N LOCATION": keep the runtime's
        # modules (jrt:) that the application's own modules (file:) require.
        declared=$(printf '%s\n' "$output" | awk '
            $1 == "root" { app[$2] = ($3 ~ /^file:/) }
            $2 == "requires" { app[$3] = ($4 ~ /^file:/); if ($4 ~ /^jrt:/) { from[++n] = $1; to[n] = $3 } }
            END { for (i = 1; i <= n; i++) if (app[from[i]]) print to[i] }') || exit 1
    fi

    # The splash screen is drawn by a library of java.desktop, which no class names.
    modules=$(printf '%s\n' "$found" $declared ${splash:+java.desktop} | tr ',' '\n' |
        awk 'NF && !seen[$0]++' | paste -s -d , -) || exit 1
    [ -n "$modules" ] || fail "jdeps found no modules that the application needs: give --add-modules"
    printf '%s\n' "$modules"
}

# Writes a runtime of only the modules the application needs, linked by the
# runtime's own jlink, into the bundle, so the bundle depends on no runtime of
# the machine.
link_runtime() {
    local home modules output
    home=$contents/runtime/Contents/Home
    if [ $have_add_modules -eq 1 ]; then
        modules=$add_modules
    else
        modules=$(app_modules) || exit 1
    fi
    set -- --add-modules "$modules" --output "$home" --strip-debug --no-header-files --no-man-pages
    [ -z "$jmods_dir" ] || set -- "$@" --module-path "$jmods_dir"
    # jlink writes the class-data archive by running the new runtime, which it
    # can do only on the runtime's own platform.
    [ -n "$other_platform" ] || set -- "$@" --generate-cds-archive
    rmdir "$home"
    output=$("$runtime_home/bin/jlink" "$@" 2>&1) || fail "jlink failed: $(reason "$output")"
    if [ ! -e "$home/lib/libjli.dylib" ] && [ -e "$home/lib/libjli.so" ]; then
        # Relative, so that the bundle still starts when moved or copied.
        ln -s libjli.so "$home/lib/libjli.dylib"
    fi
    if [ -n "$other_platform" ]; then
        printf '%s: warning: %s\n' "$prog" "no class-data archive in the runtime for $other_platform: run its bin/java -Xshare:dump there" >&2
    fi
}

move_into_place() {
    chmod 755 "$bundle_dir"
    if [ -e "$target" ] || [ -L "$target" ]; then
        old=$(mktemp -d "$output_dir/.$name.app.old.XXXXXX") || fail "cannot create a directory in $output_dir"
        mv "$target" "$old/" || fail "cannot move the existing $target aside"
    fi
    if ! mv "$bundle_dir" "$target"; then
        # Put the replaced bundle back rather than lose it.
        [ -z "$old" ] || mv "$old/$name.app" "$target"
        fail "cannot move the bundle into place: $target"
    fi
    if [ -n "$entitlements_tmp" ]; then
        mv -f "$entitlements_tmp" "$entitlements_target" ||
            fail "cannot write the entitlements beside the bundle: $entitlements_target"
        entitlements_tmp=
    fi
    printf '%s\n' "$target"
}

main() {
    parse_arguments ${1+"$@"}
    check_options
    make_staging
    copy_application
    copy_icon
    write_configuration
    write_info_plist
    if [ $jlink -eq 1 ]; then
        link_runtime
    else
        place_runtime
    fi
    sign_bundle
    move_into_place
}

main ${1+"$@"}
