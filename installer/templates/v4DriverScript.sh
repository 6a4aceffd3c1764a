# v4DriverScript - hands a spooler's job to the print driver "driver".
# The spooler named in the flag file decides how the call is read.

ToolPath="%s"
CfgFlags=`cat ${ToolPath}/.%sp_cfg 2>/dev/null`

flConfig=
for flWord in $CfgFlags
do
	case "$flWord" in
	LPRng|V5|AIX|BSD|CUPS) flConfig=$flWord ;;
	esac
done

case "${flConfig:-V5}" in
AIX)	# AIX queue back end: the arguments go through unchanged
	cd ${ToolPath}
	PANGO_RC_FILE=${ToolPath}/lib/gtk/modules/etc/pango/pangorc
	GTK_IM_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gtk.immodules
	GDK_PIXBUF_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gdk-pixbuf.loaders
	export PANGO_RC_FILE GTK_IM_MODULE_FILE GDK_PIXBUF_MODULE_FILE
	${ToolPath}/driver -f AIX $* 1>>/dev/null 2>>/dev/null
	exit 0
	;;
LPRng|BSD)	# LPRng (and BSD, read the same way): -P -d -e -Z -n -h words
	KavlonFileSourceDir=`pwd`
	export KavlonFileSourceDir
	PRINTER=`printf '%%s\n' "$1" | sed -e "s/-P//"`
	SPOOL_DIR=`printf '%%s\n' "$2" | sed -e "s/-d//"`
	FFL=`printf '%%s\n' "$3" | sed -e "s#-e#${SPOOL_DIR}/#" -e "s#,# ${SPOOL_DIR}/#g"`
	OptionList=`printf '%%s\n' "$4" | sed -e "s/-Z/-o/" -e "s/,/ -o/g"`
	UserName=`printf '%%s\n' "$5" | sed -e "s/-n/-u /"`
	KavlonHost_name=`printf '%%s\n' "$6" | sed -e "s/-h//"`
	cd ${ToolPath}
	${ToolPath}/driver -d${PRINTER} $OptionList $FFL 1>>/dev/null 2>>/dev/null
	exit 0
	;;
V5)	# System V interface: request-id user title copies options file...
	PATH=/usr/sbin:/usr/bin:/bin
	PRINTER=`basename $0`
	KavlonRequest_id="-o JobID=$1"
	UserName=`printf '%%s\n' "$2" | sed -e "s/@.*//"`
	UserName="-u$UserName"
	Title=`printf '%%s\n' "-t $3" | sed -e "s/###[ 0-9A-z#].*/-t /"`
	KavlonCopies="-oCopies=$4"
	OptList=$5
	export PATH PRINTER KavlonRequest_id UserName Title KavlonCopies OptList
	shift 5
	PANGO_RC_FILE=${ToolPath}/lib/gtk/modules/etc/pango/pangorc
	GTK_IM_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gtk.immodules
	GDK_PIXBUF_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gdk-pixbuf.loaders
	export PANGO_RC_FILE GTK_IM_MODULE_FILE GDK_PIXBUF_MODULE_FILE
	case "`uname -s`" in
	HP-UX)
		OptionList=`printf '%%s\n' "$OptList" | sed -e "s/ -oBSD[A-z0-9].*//g" -e "s/ / -o/g"`
		OptionList=" -o$OptionList"
		export OptionList
		;;
	SunOS)
		LD_LIBRARY_PATH=${ToolPath}/lib:${ToolPath}/lib/gtk:/lib:/usr/lib
		OptionList=`printf '%%s\n' "$OptList" | sed -e "s/flist=['A-z0-9].*//g" -e "s/ / -o/g"`
		OptionList=" -o$OptionList"
		export LD_LIBRARY_PATH OptionList
		;;
	esac
	DISPLAY=${DISPLAY:-:0.0}
	export DISPLAY
	cd ${ToolPath}
	${ToolPath}/driver -d${PRINTER} $KavlonCopies $UserName $Title $OptionList $* 1>>/dev/null 2>>/dev/null
	exit 0
	;;
CUPS)	# CUPS: job-id user title copies options [file], the queue in PRINTER
	PATH=/usr/sbin:/usr/bin:/bin
	RequestID="-o JobID=$1"
	UserName=`printf '%%s\n' "-u $2" | sed -e 's/"//g'`
	Title=`printf '%%s\n' "-t $3" | sed -e 's/"//g'`
	Copies="-oCopies=$4"
	OptionList=`printf '%%s\n' "$5" | sed -e "s/ / -o /g"`
	OptionList=`printf '%%s\n' "-o $OptionList" | sed -e 's/"//g'`
	shift 5
	cd ${ToolPath}
	PANGO_RC_FILE=${ToolPath}/lib/gtk/modules/etc/pango/pangorc
	GTK_IM_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gtk.immodules
	GDK_PIXBUF_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gdk-pixbuf.loaders
	export PANGO_RC_FILE GTK_IM_MODULE_FILE GDK_PIXBUF_MODULE_FILE
	DISPLAY=${DISPLAY:-:0.0}
	export DISPLAY
	${ToolPath}/driver -d${PRINTER} $Copies $UserName $Title $OptionList $* 1>>/dev/null 2>>/dev/null
	exit 0
	;;
esac
