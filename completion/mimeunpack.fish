# fish completion for mimeunpack: its options with the texts of --help, the
# directory after -C, any file after -t, and archives (.mht and .mhtml files,
# and directories on the way to them) everywhere else. Installed as
# share/fish/vendor_completions.d/mimeunpack.fish.

# Of the files fish would offer for the token being completed, directories
# and archives.
function __mimeunpack_archives
    set -l token (commandline -ct)
    # "--" first, so that a name beginning with "-" is a file to fish too.
    for entry in (complete -C "__fish_command_without_completions -- $token")
        set entry (string split -f1 \t -- $entry)
        if string match -qr '/$' -- $entry
            or string match -qir '\.(mht|mhtml)$' -- $entry
            echo $entry
        end
    end
end

complete -c mimeunpack -f -a '(__mimeunpack_archives)'
complete -c mimeunpack -s C -l directory -x -a '(__fish_complete_directories (commandline -ct))' -d 'zapise vse pod adresar ADR misto aktualniho'
complete -c mimeunpack -s d -l dir-per-archive -d 'kazdy archiv do adresare podle jeho jmena (report.mht do report/)'
complete -c mimeunpack -s t -l table -r -F -d 'abeceda base64 ze SOUBORU misto base64.conf'
complete -c mimeunpack -s l -l list -d 'nic nezapise, jen vypise casti archivu'
complete -c mimeunpack -s q -l quiet -d 'bez hlaseni o postupu (chyby se vypisi)'
complete -c mimeunpack -s a -l any-layout -d 'casti podle hlavicek MIME v jakemkoli poradi (archivy z prohlizecu; bez base64.conf)'
complete -c mimeunpack -l offline -d 'jako -a a odkazy stranek vedou na zapsane soubory; nakonec vypise hlavni stranku'
complete -c mimeunpack -l json -d 'vypis a zapis jako JSON Lines pro skripty (viz manual)'
complete -c mimeunpack -s k -l keep-going -d 'archiv s chybou preskoci a pokracuje dalsim; nakonec vypise pocty archivu'
complete -c mimeunpack -s n -l no-clobber -d 'existujici soubor nenahradi: s -a dalsi volne jmeno -N, jinak cast preskoci'
complete -c mimeunpack -l only -x -a 'image/* text/* text/html text/css font/* application/*' -d 'jen casti techto typu (image/*,text/css); s -a nebo --offline'
complete -c mimeunpack -l single-file -d 'jako -a a z kazdeho archivu jedna stranka HTML s castmi uvnitr (report.mht do report.html; --single-file=- ji vypise, jen pro jeden archiv)'
complete -c mimeunpack -l no-network -d 's --offline nebo --single-file: stranky nenactou nic ze site (Content-Security-Policy)'
complete -c mimeunpack -l progress -d 'na terminalu ukazuje, kolik z archivu je precteno (na standardni chybovy vystup)'
complete -c mimeunpack -s h -l help -d 'tato napoveda'
complete -c mimeunpack -s V -l version -d 'verze programu'
