#!/usr/bin/env bash
# An independent reading of the packaging: UEFIExtract (uefitool-cli) parses
# the module's volume and the flash image. Its exit status is 0 whatever it
# finds, so its printed lines are read: no checksum or structure error, the
# module's file found by its GUID, and the PE32 or TE body it extracts
# identical to the rebased image that the build produced.
#
#   check-uefiextract.sh FIRMWARE_DIR FILE_GUID
#
# Exit 0 when all holds, 1 otherwise, 77 when UEFIExtract or the build is absent.
set -uo pipefail
dir=$1
guid=$2
command -v UEFIExtract >/dev/null || { echo "UEFIExtract is not installed (uefitool-cli)"; exit 77; }
for file in QelVersionPei.fv QelVersionPei.rebased.efi QelVersionPei-TE.fv QelVersionPei-TE.rebased.te; do
  [[ -f $dir/$file ]] || { echo "no $dir/$file: build the firmware preset first"; exit 77; }
done
work=$(mktemp -d "$dir/uefiextract.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0

# check IMAGE ALLOWED_REMARK REBASED SECTION_TYPE SECTION_NAME
check() {
  local image=$1 allowed=$2 rebased=$3 type=$4 kind=$5 good=1
  cp "$dir/$image" "$work/$image"
  local said
  said=$(cd "$work" && UEFIExtract "$image" report 2>&1)
  # A lone module volume has no volume top file; that is the one remark allowed.
  local errors
  errors=$(grep -v -e "^$" -e "$allowed" <<<"$said")
  if [[ -n $errors ]]; then
    echo "$image: UEFIExtract reports:"; echo "$errors" | sed 's/^/  /'
    good=0
  fi
  if ! grep -qi "PEI module .*$guid" "$work/$image.report.txt"; then
    echo "$image: UEFIExtract finds no PEI module $guid"; sed 's/^/  /' "$work/$image.report.txt"
    good=0
  fi
  if ! grep -q "Section *| $kind image" "$work/$image.report.txt"; then
    echo "$image: UEFIExtract lists no $kind image section"
    good=0
  fi
  (cd "$work" && UEFIExtract "$image" "$guid" -o "$image.out" -m body -t "$type" >/dev/null 2>&1)
  if ! cmp -s "$work/$image.out/body.bin" "$dir/$rebased"; then
    echo "$image: the $kind section UEFIExtract extracts differs from $rebased"
    good=0
  fi
  if ((good)); then
    echo "$image: parsed without error; PEI module $guid found; its $kind section is the rebased image"
  else
    status=1
  fi
}

check QelVersionPei.fv "not a single Volume Top File is found" QelVersionPei.rebased.efi 10 PE32
check QelVersion.fd "^$" QelVersionPei.rebased.efi 10 PE32
check QelVersionPei-TE.fv "not a single Volume Top File is found" QelVersionPei-TE.rebased.te 12 TE
check QelVersion-TE.fd "^$" QelVersionPei-TE.rebased.te 12 TE
exit $status
